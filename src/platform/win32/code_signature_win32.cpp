// Authenticode with WinVerifyTrust (WINTRUST_ACTION_GENERIC_VERIFY_V2), no UI, revocation not
// checked and nothing fetched from the network; the signer's subject from the provider's state.
#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstdio>
#include <string>

#include "platform/code_signature.h"
#include "platform/win32/file_api_path.h"
#include "text/encoding.h"

namespace velmora::platform {
namespace {

std::string HexStatus(LONG status) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08lx", static_cast<unsigned long>(status));
  return text;
}

// The common name of the subject of the certificate that signed the file, from the state of a
// verification that succeeded; empty text when there is none.
std::string SignerName(HANDLE stateData) {
  CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(stateData);
  if (provider == nullptr) return {};
  CRYPT_PROVIDER_SGNR* signer = WTHelperGetProvSignerFromChain(provider,
                                                               0,      // idxSigner
                                                               FALSE,  // fCounterSigner
                                                               0);     // idxCounterSigner
  if (signer == nullptr || signer->csCertChain == 0 || signer->pasCertChain == nullptr ||
      signer->pasCertChain[0].pCert == nullptr) {
    return {};
  }
  PCCERT_CONTEXT certificate = signer->pasCertChain[0].pCert;
  void* commonName = const_cast<char*>(szOID_COMMON_NAME);
  const DWORD length = CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0, commonName, nullptr, 0);
  if (length <= 1) return {};
  std::wstring name(length, L'\0');
  const DWORD written = CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0, commonName, name.data(), length);
  if (written <= 1) return {};
  return text::WideToNarrow(std::u16string(reinterpret_cast<const char16_t*>(name.data()), written - 1), text::Utf8CodePage);
}

CodeSignatureStatus StatusOf(LONG status) {
  switch (static_cast<HRESULT>(status)) {
    case ERROR_SUCCESS: return CodeSignatureStatus::Valid;
    case TRUST_E_NOSIGNATURE:
    case TRUST_E_SUBJECT_FORM_UNKNOWN:
    case TRUST_E_PROVIDER_UNKNOWN: return CodeSignatureStatus::Unsigned;
    case TRUST_E_BAD_DIGEST: return CodeSignatureStatus::BadDigest;
    case CRYPT_E_FILE_ERROR: return CodeSignatureStatus::Unchecked;
    default: return CodeSignatureStatus::Refused;
  }
}

}  // namespace

CodeSignature PlatformReadCodeSignature(const std::string& path) {
  const std::u16string wide = win32::FileApiPath(path);
  WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof(file);
  file.pcwszFilePath = reinterpret_cast<const wchar_t*>(wide.c_str());
  WINTRUST_DATA data{};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE),  // no UI
                                     &action, &data);
  CodeSignature result;
  result.status = StatusOf(status);
  result.detail = "WinVerifyTrust " + HexStatus(status);
  if (result.status == CodeSignatureStatus::Valid) {
    result.signer = SignerName(data.hWVTStateData);
    if (result.signer.empty()) {
      result.status = CodeSignatureStatus::Refused;
      result.detail += ", no signer's name";
    }
  }
  // The state holds the signer's certificates until it is closed, whatever the verdict.
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return result;
}

}  // namespace velmora::platform
