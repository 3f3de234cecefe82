// One grid row's HTTP download object. A placeholder value type until the download client exists:
// every TaskRecord owns one, copied from the update check's template in its initial state.
#pragma once

namespace velmora::download {

struct DownloadTask {};

}  // namespace velmora::download
