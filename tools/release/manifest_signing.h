// Signing a manifest and putting it on disk beside its signature.
//
// The signature file is the manifest's path + ".sig" (update::kSignatureSuffix), holding the
// Base64 of an ECDSA P-256 / SHA-256 signature of the manifest file's exact bytes and a newline.
// An updater fetches the manifest first and the signature right after; a pair that does not
// match is fetched once more after a short pause and then refused with a signature error, so a
// mismatch can delay an update but never installs anything.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "manifest_writer.h"

namespace velmora::release {

// The public half (64 bytes) of a 96-byte private key.
std::string PublicKeyOf(const std::string& privateKey);

// The signature file's text for `manifestBytes` signed with each of `privateKeys`: one key gives
// the one-line form every updater reads; several give one "<key id> <signature>" line per key
// (update/signature_set.h). Each new signature is checked against its key's own public half
// before it is returned, so a key file whose halves do not belong together is refused rather than
// published. False, with `error` set, on failure.
bool SignManifestBytes(const std::vector<std::string>& privateKeys, std::string_view manifestBytes,
                       std::string& signatureText, std::string& error);

// True when `signatureText` (either form) holds a valid signature of `bytes` by `publicKey`.
bool HasSignatureBy(const std::string& publicKey, std::string_view bytes, std::string_view signatureText);

// What WriteManifestFiles did to the signature file beside the manifest.
enum class SignatureFileChange { Written, RemovedStale, None };

// Writes the manifest `bytes` at `path` (GBK) and, with `signatureText`, its signature at
// path + ".sig". Both are written in full under temporary names first; then the manifest takes
// its place, and the signature right after it (the order updaters fetch them in, which least
// often hands a client a mismatched pair), so they differ only for the moment between two
// renames. Without a signature, a signature file left beside the manifest by an earlier release
// is removed once the new manifest is in place: it signs other bytes.
// False with `error` (UTF-8) set when something could not be written. Nothing has changed then,
// unless the signature could not replace the old one after the manifest had: `error` says so.
bool WriteManifestFiles(const std::string& path, const std::string& bytes,
                        const std::optional<std::string>& signatureText, SignatureFileChange& change,
                        std::string& error);

// The lines that tell the publisher what was signed and how long it holds, for the manifest shown
// as `shownPath`: "signed: site/up.txt.sig; serial 1799236800, expires 2027-02-05T12:00:00Z".
// Empty for an unsigned manifest without those members (as before there were any).
std::string DescribeSigning(const std::string& shownPath, const ManifestContent& content, SignatureFileChange change);

}  // namespace velmora::release
