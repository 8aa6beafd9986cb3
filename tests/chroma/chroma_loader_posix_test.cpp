// The Chroma Connect loader over prepared folders: the ordinary search picks
// a file, which is accepted only from a trusted folder with the vendor's
// valid signature, and what runs is only ever the bytes that were checked.
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "chroma/chroma_bridge.h"
#include "chroma/chroma_connect_api.h"
#include "chroma/appended_signature.h"
#include "tests/chroma/signing_kit.h"
#include "tests/support/host_process.h"
#include "tests/support/temp_dir.h"

namespace halvix::test {
namespace {

namespace fs = std::filesystem;
using chroma::ChromaBridge;
using chroma::ChromaConnectApi;
using chroma::ChromaLoaderEnvironment;

enum class Place {
  SystemFolder,         // <SystemRoot>/System32
  ChromaFolder,         // <ProgramFiles>/Razer/ChromaBroadcast/bin
  ChromaFolderCase,     // the same folder in other letter case, ProgramFiles given with "\"
  ExecutableFolder,     // beside the executable, with a genuine one in the Chroma folder too
  UntrustedFolder,      // only on the library path
  Nowhere,
};
enum class Damage { None, Tampered, Truncated };

const char* const kMarked = "chroma_standin_marked";

const SigningKit& signingKit() {
  static const SigningKit kit;
  return kit;
}

// Whether a marked stand-in's initialiser ran from a file below `root`: it
// leaves its mark beside the file it was loaded from.
bool initialiserRan(const fs::path& root) {
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.path().filename() == "constructor-ran") return true;
  return false;
}

// Finds the library in the Chroma folder under `programs`, trusting the kit's root.
ChromaLoaderEnvironment chromaFolderEnvironment(const fs::path& programs) {
  ChromaLoaderEnvironment environment;
  environment.search.folders = {programs / "Razer/ChromaBroadcast/bin"};
  environment.programFiles = programs.string();
  environment.trust.certificateFile = signingKit().trustedRoots();
  return environment;
}

void damage(const fs::path& library, Damage how) {
  if (how == Damage::None) return;
  std::string bytes = readWholeFile(library);
  if (how == Damage::Tampered)
    bytes[bytes.size() / 3] ^= 0x20;
  else
    bytes.resize(bytes.size() - 100);
  std::ofstream(library, std::ios::binary | std::ios::trunc) << bytes;
}

TEST(ChromaConnectLoader, AcceptsOnlyTheVendorsSignedLibraryFromATrustedFolder) {
  const SigningKit& kit = signingKit();
  ASSERT_EQ(kit.problem(), "");
  struct Case {
    const char* name;
    const char* variant;
    Signer signer;
    Place place;
    Damage damage;
    int code;
    const char* status;
    bool loaded;
    bool loadTwice = false;
    bool trustFromEnvironment = false;
  };
  const char* const invalid = chroma::kInvalidChromaDll;
  const char* const failed = chroma::kChromaConnectFailed;
  const Case cases[] = {
      {"system folder, roots from SSL_CERT_FILE", kMarked, Signer::Vendor, Place::SystemFolder, Damage::None, 0, "",
       true, false, true},
      {"Chroma folder in other letter case", kMarked, Signer::Vendor, Place::ChromaFolderCase, Damage::None, 0, "",
       true},
      {"executable's folder first, refused", kMarked, Signer::Vendor, Place::ExecutableFolder, Damage::None, 1154,
       invalid, false},
      {"untrusted folder", kMarked, Signer::Vendor, Place::UntrustedFolder, Damage::None, 1154, invalid, false},
      {"unsigned", kMarked, Signer::None, Place::ChromaFolder, Damage::None, 1154, invalid, false},
      {"signed by another name", kMarked, Signer::OtherName, Place::ChromaFolder, Damage::None, 1154, invalid, false},
      {"untrusted root", kMarked, Signer::UntrustedRoot, Place::ChromaFolder, Damage::None, 1154, invalid, false},
      {"signer not for code signing", kMarked, Signer::NotForCodeSigning, Place::ChromaFolder, Damage::None, 1154,
       invalid, false},
      {"tampered after signing", kMarked, Signer::Vendor, Place::ChromaFolder, Damage::Tampered, 1154, invalid, false},
      {"truncated signature", kMarked, Signer::Vendor, Place::ChromaFolder, Damage::Truncated, 1154, invalid, false},
      {"no Init", "chroma_standin_no_init", Signer::Vendor, Place::ChromaFolder, Damage::None, 1, failed, true},
      {"Init fails", "chroma_standin_init_fails", Signer::Vendor, Place::ChromaFolder, Damage::None, 1627, failed,
       true},
      {"second load", kMarked, Signer::Vendor, Place::ChromaFolder, Damage::None, 1247, failed, true, true},
      {"not found", kMarked, Signer::Vendor, Place::Nowhere, Damage::None, 2, failed, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir root;
    const fs::path exe = root.path() / "exe", windows = root.path() / "windows", programs = root.path() / "programs";
    fs::create_directories(exe);
    fs::path folder;
    switch (c.place) {
      case Place::SystemFolder: folder = windows / "System32"; break;
      case Place::ChromaFolder: folder = programs / "Razer/ChromaBroadcast/bin"; break;
      case Place::ChromaFolderCase: folder = programs / "razer/CHROMABROADCAST/Bin"; break;
      case Place::ExecutableFolder: folder = exe; break;
      case Place::UntrustedFolder: folder = root.path() / "elsewhere"; break;
      case Place::Nowhere: break;
    }
    if (c.place == Place::ExecutableFolder) {
      const fs::path genuine = kit.install(standInVariant(kMarked), programs / "Razer/ChromaBroadcast/bin", Signer::Vendor);
      ASSERT_FALSE(genuine.empty());
      fs::remove(genuine.parent_path() / "constructor-ran");
    }
    if (!folder.empty()) {
      const fs::path library = kit.install(standInVariant(c.variant), folder, c.signer);
      ASSERT_FALSE(library.empty());
      damage(library, c.damage);
    }

    ChromaLoaderEnvironment environment;
    environment.search.folders = {exe, folder.empty() ? root.path() / "lib" : folder};
    environment.systemRoot = windows.string();
    environment.programFiles = c.place == Place::ChromaFolderCase ? root.path().string() + "\\programs" : programs.string();
    if (c.trustFromEnvironment)
      ::setenv("SSL_CERT_FILE", kit.trustedRoots().c_str(), 1);
    else
      environment.trust.certificateFile = kit.trustedRoots();
    {
      ChromaConnectApi api(environment);
      ChromaBridge bridge;
      int code = bridge.InitChromaConnect(api);
      if (c.loadTwice) {
        ASSERT_EQ(code, 0);
        code = bridge.InitChromaConnect(api);
      }
      EXPECT_EQ(code, c.code);
      EXPECT_EQ(bridge.chromaStatus(), c.status);
      EXPECT_EQ(api.loaded(), c.loaded) << "a checked library stays loaded, a refused one never was";
    }
    ::unsetenv("SSL_CERT_FILE");
    EXPECT_FALSE(initialiserRan(root.path())) << "nothing runs from the file itself, which may change after its check";
  }
}

TEST(AppendedSignature, VerdictIsTheFirstCheckThatFails) {
  const SigningKit& kit = signingKit();
  ASSERT_EQ(kit.problem(), "");
  using chroma::TrustVerdict;
  const struct {
    const char* name;
    Signer signer;
    Damage damage;
    TrustVerdict verdict;
  } cases[] = {
      {"the vendor", Signer::Vendor, Damage::None, TrustVerdict::Trusted},
      {"another name is no concern of the verdict", Signer::OtherName, Damage::None, TrustVerdict::Trusted},
      {"unsigned", Signer::None, Damage::None, TrustVerdict::NoSignature},
      {"trailer cut off", Signer::Vendor, Damage::Truncated, TrustVerdict::NoSignature},
      {"tampered after signing", Signer::Vendor, Damage::Tampered, TrustVerdict::BadSignature},
      {"untrusted root", Signer::UntrustedRoot, Damage::None, TrustVerdict::UntrustedChain},
      {"signer not for code signing", Signer::NotForCodeSigning, Damage::None, TrustVerdict::NotForCodeSigning},
  };
  const chroma::TrustStore trust{kit.trustedRoots()};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir root;
    const fs::path library = kit.install(standInVariant(kMarked), root.path(), c.signer);
    ASSERT_FALSE(library.empty());
    damage(library, c.damage);
    EXPECT_EQ(chroma::verifyAppendedSignature(readWholeFile(library), trust), c.verdict);
  }
}

TEST(ChromaConnectLoader, RunsTheBytesItCheckedWhateverTheFileBecomesBeforeTheLoad) {
  ASSERT_EQ(signingKit().problem(), "");
  enum class Change { RewrittenInPlace, ReplacedByAnotherFile, Removed };
  const struct {
    const char* name;
    Change change;
  } cases[] = {
      {"rewritten in place", Change::RewrittenInPlace},
      {"replaced by another file", Change::ReplacedByAnotherFile},
      {"removed", Change::Removed},
  };
  // Its Init answers 5: had it run, Load would report 1627.
  const std::string substitute = readWholeFile(standInVariant("chroma_standin_init_fails"));
  ASSERT_FALSE(substitute.empty());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir root;
    const fs::path programs = root.path() / "programs";
    const fs::path library =
        signingKit().install(standInVariant(kMarked), programs / "Razer/ChromaBroadcast/bin", Signer::Vendor);
    ASSERT_FALSE(library.empty());

    ChromaLoaderEnvironment environment = chromaFolderEnvironment(programs);
    bool changed = false;
    environment.beforeLoad = [&](const fs::path& path) {
      ASSERT_TRUE(fs::equivalent(path, library));
      struct stat before {}, after {};
      ::stat(path.c_str(), &before);
      switch (c.change) {
        case Change::RewrittenInPlace:
          std::ofstream(path, std::ios::binary | std::ios::trunc) << substitute;
          ::stat(path.c_str(), &after);
          ASSERT_EQ(after.st_ino, before.st_ino) << "the same file, not a new one";
          break;
        case Change::ReplacedByAnotherFile:
          std::ofstream(root.path() / "substitute", std::ios::binary) << substitute;
          fs::rename(root.path() / "substitute", path);
          break;
        case Change::Removed:
          fs::remove(path);
          break;
      }
      changed = true;
    };
    ChromaConnectApi api(environment);
    EXPECT_EQ(api.Load(chroma::kHalvixApplicationId), 0);
    EXPECT_TRUE(changed);
    EXPECT_TRUE(api.loaded());
  }
}

TEST(ChromaConnectLoader, SignerIsTheCertificatesSimpleDisplayName) {
  ASSERT_EQ(signingKit().problem(), "");
  const struct {
    const char* name;
    Subject subject;
    const char* displayName;
    int code;
  } cases[] = {
      {"organisational unit before organisation", {{{"OU", "Razer USA Ltd."}, {"O", "Other"}}}, "Razer USA Ltd.", 0},
      {"organisation after organisational unit",
       {{{"OU", "Other Vendor Ltd."}, {"O", "Razer USA Ltd."}}},
       "Other Vendor Ltd.",
       1154},
      {"an empty common name is the name", {{{"CN", ""}, {"O", "Razer USA Ltd."}}}, "", 1154},
      {"common name first, in any letter case", {{{"O", "Other"}, {"CN", "razer usa ltd."}}}, "razer usa ltd.", 0},
      {"e-mail address last", {{{"L", "Elsewhere"}, {"emailAddress", "Razer USA Ltd."}}}, "Razer USA Ltd.", 0},
      {"else the alternative e-mail name", {{{"L", "Elsewhere"}}, "Razer USA Ltd."}, "Razer USA Ltd.", 0},
      {"else the first attribute", {{{"L", "Razer USA Ltd."}, {"ST", "Elsewhere"}}}, "Razer USA Ltd.", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir root;
    const fs::path programs = root.path() / "programs";
    const fs::path library =
        signingKit().install(standInVariant(kMarked), programs / "Razer/ChromaBroadcast/bin", c.subject);
    ASSERT_FALSE(library.empty());
    EXPECT_EQ(chroma::signerDisplayName(readWholeFile(library)), c.displayName);
    ChromaConnectApi api(chromaFolderEnvironment(programs));
    EXPECT_EQ(api.Load(chroma::kHalvixApplicationId), c.code);
  }
}

TEST(ChromaConnectLoader, TrustedFoldersAreTheVariablesTextAsGiven) {
  const std::string file = "/RzChromaConnectAPI64.dll";
  const struct {
    const char* name;
    std::optional<std::string> systemRoot, programFiles;
    std::string module;
    bool trusted;
  } cases[] = {
      {"system folder", "/w", std::nullopt, "/w/System32" + file, true},
      {"Chroma folder", std::nullopt, "/p", "/p/Razer/ChromaBroadcast/bin" + file, true},
      {"other letter case", "/W", "/p", "/w/SYSTEM32/rzchromaconnectapi64.dll", true},
      {"\\ read as /", std::nullopt, "\\p", "/p/Razer/ChromaBroadcast/bin" + file, true},
      {"another folder", "/w", "/p", "/w" + file, false},
      {"variables unset", std::nullopt, std::nullopt, "/w/System32" + file, false},
      {"trailing separator", "/w/", std::nullopt, "/w/System32" + file, false},
      {"trailing \\", std::nullopt, "/p\\", "/p/Razer/ChromaBroadcast/bin" + file, false},
      {"doubled separator", "/a//w", std::nullopt, "/a/w/System32" + file, false},
      {"..", std::nullopt, "/a/x/../p", "/a/p/Razer/ChromaBroadcast/bin" + file, false},
      {".", "/a/./w", std::nullopt, "/a/w/System32" + file, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ChromaLoaderEnvironment environment;
    environment.systemRoot = c.systemRoot;
    environment.programFiles = c.programFiles;
    EXPECT_EQ(chroma::isTrustedLocation(c.module, environment), c.trusted);
  }
}

TEST(ChromaConnectLoader, ColourEventsReachOnlyTheAttachedBridge) {
  struct Case {
    const char* name;
    std::int32_t type;
    const unsigned char* data;
    chroma::ChromaColour expected;
  };
  static const unsigned char kColour[] = {0x99, 0x66, 0x33, 0x00};
  static const unsigned char kHighByte[] = {0x01, 0x02, 0x03, 0xff};
  const chroma::ChromaColour before{9, 9, 9};
  const Case cases[] = {
      {"colour event", 1, kColour, {0x99, 0x66, 0x33}},
      {"the top byte is not read", 1, kHighByte, {1, 2, 3}},
      {"other type", 2, kColour, before},
      {"type 0", 0, kColour, before},
      {"no data", 1, nullptr, before},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChromaBridge bridge;
    bridge.relay().setColour(before);
    std::uint32_t data[1] = {};
    if (c.data) std::memcpy(data, c.data, sizeof data);
    EXPECT_EQ(chroma::OnChromaEvent(c.type, c.data ? data : nullptr), 0);
    EXPECT_EQ(bridge.relay().colour(), c.expected);
    // Once detached, nothing reaches it.
    bridge.relay().setColour(before);
    bridge.detach();
    EXPECT_EQ(chroma::OnChromaEvent(c.type, c.data ? data : nullptr), 0);
    EXPECT_EQ(bridge.relay().colour(), before);
  }
}

}  // namespace
}  // namespace halvix::test
