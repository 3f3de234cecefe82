// The second anchor (docs/signing.md): a build may pin the publisher's code-signing certificate by
// its subject's common name (the build option VELMORA_CODE_SIGNING_SUBJECT). Then every program
// file of a release must carry a valid Authenticode signature by a certificate of that name:
// checked on the staged file before the release is committed, and on the product before it is
// started. A program file is known by its content (an executable image, whatever its name) as
// well as by its name, and the updater starts nothing but a signed executable image. So a
// manifest key alone cannot put an unsigned program on a machine, nor run a script through one.
#pragma once

#include <string>
#include <string_view>

namespace velmora::update {

// The pinned subject (UTF-8; update/code_signing_subject.cpp, one per program); empty: none, and
// nothing is checked.
std::string_view ConfiguredCodeSigningSubject();

// Tests: `subject` replaces the configured one until called with nullptr.
void ReplaceCodeSigningSubject(const std::string* subject);

// The subject in force: the replaced one, else the configured one.
std::string CodeSigningSubject();

// Whether `target` (a path or a name, GBK) is named as a program file: it ends, in any letter
// case, in ".exe", ".dll", ".com", ".scr", ".cpl", ".ocx", ".sys", ".drv" or ".efi".
bool IsProgramFile(std::string_view target);

// Whether the file at `file` (GBK) begins as an executable image: with "MZ" (or "ZM"), as every
// PE image and every DOS program does, whatever its name ("tool.dat" may be one). False for a
// file that is missing, unreadable or shorter than two bytes.
bool IsExecutableImage(const std::string& file);

// Why the file at `file` (GBK) may not be installed or started as `target` (GBK; `file` itself
// when it is the target), in UTF-8 for the log: "not signed (WinVerifyTrust 0x800b0100)",
// "signed by \"Other\", not by \"Velmora\"". Empty when it may: no subject is pinned, `target` is
// not named as a program file and the file is no executable image, or a certificate of the
// pinned subject signed it validly. Reads the file's first bytes, and the whole file when it is
// a program.
std::string CodeSigningProblem(const std::string& file, const std::string& target);

// Why the updater may not start the file at `file` (GBK), in UTF-8 for the log. With a pinned
// subject only a signed executable image is started: "not a program image" for a script, a
// shortcut, an installer package, a folder or a missing file, else CodeSigningProblem's answer.
// Empty when no subject is pinned.
std::string LaunchProblem(const std::string& file);

// Why a manifest's `run` (GBK, already known to stay in the run directory) may not be started
// once the release is in, decided before anything is fetched; UTF-8 for the log, empty when it
// may (or no subject is pinned, or `run` is empty). `listed`: the release lists that file, whose
// content is then checked when it is staged and again before it starts. Refused: a name Windows
// would not start as a program image itself (".bat", ".cmd", ".lnk", ".msi", ".ps1", ...; only
// ".exe", ".com" and ".scr" pass), and a file the release does not list that the folder
// (`runDirectory`, GBK) does not hold or that LaunchProblem refuses.
std::string LaunchTargetProblem(const std::string& run, bool listed, const std::string& runDirectory);

}  // namespace velmora::update
