// velmora-release: the thin program around release_commands.h. It hands the command line over as
// UTF-8 (on Windows taken in UTF-16, so that any name survives) and writes the console's bytes
// unchanged (a manifest on standard output must not gain carriage returns).
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "release_commands.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include "text/encoding.h"
#endif

namespace {

class StandardConsole final : public velmora::release::ReleaseConsole {
 public:
  void Out(std::string_view bytes) override { Write(stdout, bytes); }
  void Err(std::string_view bytes) override { Write(stderr, bytes); }

 private:
  static void Write(std::FILE* stream, std::string_view bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fflush(stream);
  }
};

int Run(const std::vector<std::string>& arguments) {
  StandardConsole console;
  const int status = velmora::release::RunRelease(arguments, console);
  // Output that could not be written (a full disk, a closed pipe) must not pass for success.
  if (std::ferror(stdout) != 0) return velmora::release::kExitFailed;
  return status;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) {
    const std::u16string wide(reinterpret_cast<const char16_t*>(argv[i]));
    arguments.push_back(velmora::text::WideToNarrow(wide, velmora::text::Utf8CodePage));
  }
  return Run(arguments);
}
#else
int main(int argc, char** argv) { return Run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
