// The Chroma Connect loader over prepared folders: the ordinary search picks
// a file, which is accepted only from a trusted folder with the vendor's
// valid signature, and is never run before it has been checked.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "chroma/chroma_bridge.h"
#include "chroma/chroma_connect_api.h"
#include "tests/chroma/signing_kit.h"
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

// Whether any stand-in's initialiser ran below `root`.
bool initialiserRan(const fs::path& root) {
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.path().filename() == "constructor-ran") return true;
  return false;
}

void damage(const fs::path& library, Damage how) {
  if (how == Damage::None) return;
  std::string bytes;
  {
    std::ifstream in(library, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  if (how == Damage::Tampered)
    bytes[bytes.size() / 3] ^= 0x20;
  else
    bytes.resize(bytes.size() - 100);
  std::ofstream(library, std::ios::binary | std::ios::trunc) << bytes;
}

TEST(ChromaConnectLoader, AcceptsOnlyTheVendorsSignedLibraryFromATrustedFolder) {
  static const SigningKit kit;
  ASSERT_EQ(kit.problem(), "");
  struct Case {
    const char* name;
    const char* variant;
    Signer signer;
    Place place;
    Damage damage;
    int code;
    const char* status;
    bool ran;
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
      EXPECT_EQ(api.loaded(), c.ran) << "a checked library stays loaded, a refused one never was";
    }
    ::unsetenv("SSL_CERT_FILE");
    EXPECT_EQ(initialiserRan(root.path()), c.ran);
  }
}

TEST(ChromaConnectLoader, ColourEventsReachOnlyTheAttachedBridge) {
  struct Case {
    const char* name;
    std::int32_t type;
    const unsigned char* data;
    chroma::ChromaColor expected;
  };
  static const unsigned char kColour[] = {0x99, 0x66, 0x33, 0x00};
  static const unsigned char kHighByte[] = {0x01, 0x02, 0x03, 0xff};
  const chroma::ChromaColor before{9, 9, 9};
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
    bridge.relay().setColor(before);
    std::uint32_t data[1] = {};
    if (c.data) std::memcpy(data, c.data, sizeof data);
    EXPECT_EQ(chroma::OnChromaEvent(c.type, c.data ? data : nullptr), 0);
    EXPECT_EQ(bridge.relay().color(), c.expected);
    // Once detached, nothing reaches it.
    bridge.relay().setColor(before);
    bridge.Detach();
    EXPECT_EQ(chroma::OnChromaEvent(c.type, c.data ? data : nullptr), 0);
    EXPECT_EQ(bridge.relay().color(), before);
  }
}

}  // namespace
}  // namespace halvix::test
