// The library check on Windows: Authenticode, through WinVerifyTrust and
// CryptoAPI. The file is named by path; the loader holds it open with
// writing, deleting and renaming refused, so the path keeps naming the bytes
// it read.
#include "chroma/signature_check.h"

#include <windows.h>
// After windows.h, which they need.
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "chroma/authenticode.h"
#include "chroma/vendor_name.h"
#include "platform/text_win32.h"

namespace halvix::chroma {
namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct StoreClose {
  void operator()(HCERTSTORE store) const { ::CertCloseStore(store, 0); }
};
struct MessageClose {
  void operator()(HCRYPTMSG message) const { ::CryptMsgClose(message); }
};
struct CertificateFree {
  void operator()(PCCERT_CONTEXT certificate) const { ::CertFreeCertificateContext(certificate); }
};
using Store = std::unique_ptr<void, StoreClose>;
using Message = std::unique_ptr<void, MessageClose>;
using Certificate = std::unique_ptr<const CERT_CONTEXT, CertificateFree>;

// The first signer's information, in storage aligned for its structure.
std::vector<std::uint64_t> firstSignerInfo(HCRYPTMSG message) {
  DWORD size = 0;
  if (!::CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) || size < sizeof(CMSG_SIGNER_INFO))
    return {};
  std::vector<std::uint64_t> info((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
  if (!::CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, 0, info.data(), &size)) return {};
  return info;
}

}  // namespace

long verifyEmbeddedSignature(const std::filesystem::path& path) {
  WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = path.c_str();
  WINTRUST_DATA data{};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = 0;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const HWND noUser = static_cast<HWND>(INVALID_HANDLE_VALUE);
  const LONG verdict = ::WinVerifyTrust(noUser, &action, &data);
  // The state is released whatever the verdict was.
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  ::WinVerifyTrust(noUser, &action, &data);
  return verdict;
}

std::string signerDisplayName(const std::filesystem::path& path) {
  HCERTSTORE rawStore = nullptr;
  HCRYPTMSG rawMessage = nullptr;
  if (!::CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                          CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, &rawStore, &rawMessage,
                          nullptr))
    return {};
  const Store store(rawStore);
  const Message message(rawMessage);
  const std::vector<std::uint64_t> info = firstSignerInfo(rawMessage);
  if (info.empty()) return {};
  const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(info.data());
  CERT_INFO wanted{};
  wanted.Issuer = signer->Issuer;
  wanted.SerialNumber = signer->SerialNumber;
  const Certificate certificate(
      ::CertFindCertificateInStore(rawStore, kEncoding, 0, CERT_FIND_SUBJECT_CERT, &wanted, nullptr));
  if (!certificate) return {};
  const DWORD length = ::CertGetNameStringW(certificate.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
  // The length counts the terminator: below 2 the name is empty.
  if (length < 2) return {};
  std::wstring name(length, L'\0');
  if (::CertGetNameStringW(certificate.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(), length) != length)
    return {};
  name.resize(length - 1);
  return platform::narrow(name);
}

bool IsSignedByVendor(const std::filesystem::path& path) { return isVendorName(signerDisplayName(path)); }

bool hasVendorSignature(const std::filesystem::path& path, std::string_view, const TrustStore&) {
  return verifyEmbeddedSignature(path) == 0 && IsSignedByVendor(path);
}

}  // namespace halvix::chroma
