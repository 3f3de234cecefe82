// The second anchor (docs/signing.md): a build may pin the publisher's code-signing certificate by
// its subject's common name (the build option VELMORA_CODE_SIGNING_SUBJECT). Then every `.exe` and
// `.dll` of a release must carry a valid Authenticode signature by a certificate of that name:
// checked on the staged file before the release is committed, and on the product before it is
// started. So a manifest key alone cannot put an unsigned program on a machine.
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

// Whether `target` (a path or a name, GBK) is a program file: it ends in ".exe" or ".dll" in any
// letter case.
bool IsProgramFile(std::string_view target);

// Why the file at `file` (GBK) may not be installed or started as `target` (GBK; `file` itself
// when it is the target), in UTF-8 for the log: "not signed (WinVerifyTrust 0x800b0100)",
// "signed by \"Other\", not by \"Velmora\"". Empty when it may: no subject is pinned, `target` is
// not a program file, or a certificate of the pinned subject signed it validly.
std::string CodeSigningProblem(const std::string& file, const std::string& target);

}  // namespace velmora::update
