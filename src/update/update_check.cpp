#include "update/update_check.h"

namespace velmora::update {

void UpdateCheck() {}

}  // namespace velmora::update
