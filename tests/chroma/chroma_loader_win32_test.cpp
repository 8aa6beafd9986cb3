// The Chroma Connect loader on Windows, under the system's Authenticode
// check: a library runs only from a trusted folder with a valid signature
// whose first signer is the vendor, and each refusal is for its own reason.
// The libraries were signed at build time under a throwaway root that no
// store trusts. Wine's WinVerifyTrust accepts such a chain all the same, so
// the untrusted-root refusal cannot be shown here; the OpenSSL check's tests
// show it.
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "chroma/authenticode.h"
#include "chroma/chroma_connect_api.h"
#include "tests/support/host_process.h"
#include "tests/support/hot_dev_app.h"
#include "tests/support/temp_dir.h"

namespace halvix::test {
namespace {

namespace fs = std::filesystem;
using chroma::ChromaConnectApi;
using chroma::ChromaLoaderEnvironment;

const fs::path kLibs = HALVIX_CHROMA_TEST_LIBS;
const fs::path kUnsigned = kLibs / "chroma_standin_marked.dll";
fs::path signedLibrary(const std::string& name) { return kLibs / "signed" / (name + ".dll"); }

constexpr long kTrusted = 0;
constexpr long kNoSignature = static_cast<long>(TRUST_E_NOSIGNATURE);
constexpr long kBadDigest = static_cast<long>(TRUST_E_BAD_DIGEST);

fs::path install(const fs::path& library, const fs::path& folder) {
  fs::create_directories(folder);
  const fs::path target = folder / chroma::kChromaConnectLibraryName;
  fs::copy_file(library, target, fs::copy_options::overwrite_existing);
  return target;
}

void tamper(const fs::path& library) {
  std::string bytes = readWholeFile(library);
  bytes[bytes.size() / 3] ^= 0x20;
  std::ofstream(library, std::ios::binary | std::ios::trunc) << bytes;
}

// A marked stand-in leaves its mark beside the file it was loaded from.
bool initialiserRan(const fs::path& root) {
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.path().filename() == "constructor-ran") return true;
  return false;
}

TEST(ChromaConnectLoaderWindows, AcceptsOnlyTheVendorsSignedLibraryFromATrustedFolderEachRefusalForItsReason) {
  enum class Place {
    SystemFolder,
    ChromaFolder,
    ChromaFolderCase,  // the Chroma folder's name in other letter case
    ExecutableFolder,  // found first, with a genuine one in the Chroma folder too
    UntrustedFolder,   // only on the search path
    AlreadyLoaded,     // a module of the name loaded from elsewhere, none on the search path
    Nowhere,
  };
  const fs::path vendor = signedLibrary("vendor");
  const struct {
    const char* name;
    fs::path library;
    Place place;
    bool tampered;
    // What each check says of the placed file: the system's verdict, whether
    // its first signer is the vendor, whether it lies in a trusted folder.
    long verdict;
    bool vendorSigner;
    bool trustedFolder;
    int code;
  } cases[] = {
      {"vendor, Chroma folder", vendor, Place::ChromaFolder, false, kTrusted, true, true, 0},
      {"vendor, Chroma folder in other case", vendor, Place::ChromaFolderCase, false, kTrusted, true, true, 0},
      {"vendor, system folder", vendor, Place::SystemFolder, false, kTrusted, true, true, 0},
      {"vendor, its Init fails", signedLibrary("init_fails"), Place::ChromaFolder, false, kTrusted, true, true, 1627},
      {"another signer", signedLibrary("other"), Place::ChromaFolder, false, kTrusted, false, true, 1154},
      {"tampered after signing", vendor, Place::ChromaFolder, true, kBadDigest, true, true, 1154},
      {"unsigned", kUnsigned, Place::ChromaFolder, false, kNoSignature, false, true, 1154},
      {"vendor, executable's folder", vendor, Place::ExecutableFolder, false, kTrusted, true, false, 1154},
      {"vendor, untrusted folder", vendor, Place::UntrustedFolder, false, kTrusted, true, false, 1154},
      {"unsigned, already loaded", kUnsigned, Place::AlreadyLoaded, false, kNoSignature, false, false, 1154},
      {"not found", kUnsigned, Place::Nowhere, false, kTrusted, false, false, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(fs::is_regular_file(c.library)) << c.library;
    TempDir root;
    const fs::path exe = root.path() / "exe", windows = root.path() / "windows", programs = root.path() / "programs";
    const fs::path chromaFolder = programs / "Razer" / "ChromaBroadcast" / "bin";
    fs::create_directories(exe);
    fs::path folder;
    switch (c.place) {
      case Place::SystemFolder: folder = windows / "System32"; break;
      case Place::ChromaFolder: folder = chromaFolder; break;
      case Place::ChromaFolderCase: folder = programs / "razer" / "CHROMABROADCAST" / "Bin"; break;
      case Place::ExecutableFolder: folder = exe; break;
      case Place::UntrustedFolder: folder = root.path() / "elsewhere"; break;
      case Place::AlreadyLoaded: case Place::Nowhere: break;
    }
    if (c.place == Place::ExecutableFolder) install(vendor, chromaFolder);
    fs::path placed = folder.empty() ? fs::path() : install(c.library, folder);
    // Outside `root`: this one runs, loaded by the test itself.
    TempDir elsewhere;
    platform::DynamicLibrary loadedBefore;
    if (c.place == Place::AlreadyLoaded) {
      placed = install(c.library, elsewhere.path());
      loadedBefore = platform::DynamicLibrary::openPath(placed);
      ASSERT_TRUE(loadedBefore) << loadedBefore.error();
    }
    if (c.tampered) tamper(placed);

    ChromaLoaderEnvironment environment;
    environment.search.folders = {exe, folder.empty() ? root.path() / "lib" : folder};
    environment.systemRoot = windows.string();
    environment.programFiles = programs.string();
    if (!placed.empty()) {
      EXPECT_EQ(chroma::verifyEmbeddedSignature(placed), c.verdict);
      EXPECT_EQ(chroma::IsSignedByVendor(placed), c.vendorSigner);
      EXPECT_EQ(chroma::isTrustedLocation(placed, environment), c.trustedFolder);
    }
    const bool accepted = c.code == 0 || c.code == 1627;
    {
      ChromaConnectApi api(environment);
      EXPECT_EQ(api.Load(chroma::kHalvixApplicationId), c.code);
      EXPECT_EQ(api.loaded(), accepted);
    }
    EXPECT_EQ(initialiserRan(root.path()), accepted) << "a refused library never runs";
  }
}

TEST(ChromaConnectLoaderWindows, SignerIsTheCertificatesSimpleDisplayName) {
  const struct {
    const char* name;
    const char* library;
    const char* displayName;
    int code;
  } cases[] = {
      {"common name", "other", "Halvix Test Lighting Ltd.", 1154},
      {"organisational unit before organisation", "unit", "Razer USA Ltd.", 0},
      {"organisation after organisational unit", "organisation", "Other Vendor Ltd.", 1154},
      {"an empty common name is the name", "empty_common_name", "", 1154},
      {"common name first, in any letter case", "common_name_first", "razer usa ltd.", 0},
      {"e-mail address last", "email_last", "Razer USA Ltd.", 0},
      {"else the alternative e-mail name", "alternative_email", "Razer USA Ltd.", 0},
      // Not "else the first attribute": Wine's CertGetNameStringW lacks that
      // last fallback and names no one.
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir root;
    const fs::path programs = root.path() / "programs";
    const fs::path library = install(signedLibrary(c.library), programs / "Razer" / "ChromaBroadcast" / "bin");
    EXPECT_EQ(chroma::verifyEmbeddedSignature(library), kTrusted);
    EXPECT_EQ(chroma::signerDisplayName(library), c.displayName);
    ChromaLoaderEnvironment environment;
    environment.search.folders = {library.parent_path()};
    environment.programFiles = programs.string();
    ChromaConnectApi api(environment);
    EXPECT_EQ(api.Load(chroma::kHalvixApplicationId), c.code);
  }
}

// The packed colour map {b, g, r} of a lamp call.
std::string packedColour(unsigned char r, unsigned char g, unsigned char b) {
  auto value = [](unsigned char v) { return v < 0x80 ? std::string(1, char(v)) : std::string{'\xcc', char(v)}; };
  return "\x83\xa1" "b" + value(b) + "\xa1" "g" + value(g) + "\xa1" "r" + value(r);
}

std::size_t count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// The Chroma folder under the system's program files, for the length of a
// test. Wine sets ProgramFiles afresh in every 64-bit process, so a child
// finds the library only in the real folder. Refused (empty) when the vendor's
// folder is there already: that one is not the test's to change.
class SystemChromaFolder {
 public:
  SystemChromaFolder() {
    const char* programFiles = std::getenv("ProgramFiles");
    if (!programFiles || fs::exists(fs::path(programFiles) / "Razer")) return;
    vendorFolder_ = fs::path(programFiles) / "Razer";
    fs::create_directories(path());
  }
  ~SystemChromaFolder() {
    std::error_code ignored;
    if (!vendorFolder_.empty()) fs::remove_all(vendorFolder_, ignored);
  }
  SystemChromaFolder(const SystemChromaFolder&) = delete;
  SystemChromaFolder& operator=(const SystemChromaFolder&) = delete;

  bool ready() const { return !vendorFolder_.empty(); }
  fs::path path() const { return vendorFolder_ / "ChromaBroadcast" / "bin"; }

 private:
  fs::path vendorFolder_;
};

TEST(ChromaConnectInTheHost, TheVendorsLibraryColoursTheLampsAnotherSignersNeverRuns) {
  const fs::path bin = HALVIX_BIN_DIR;
  const struct {
    const char* name;
    const char* library;
    bool accepted;
  } cases[] = {
      {"signed by the vendor", "vendor", true},
      {"signed by another name", "other", false},
  };
  const std::string shown = packedColour(0x99, 0x66, 0x33), black = packedColour(0, 0, 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir app;
    TempDir scratch;
    const SystemChromaFolder chroma;
    ASSERT_TRUE(chroma.ready()) << "the program files hold a Razer folder already";
    const fs::path chromaFolder = chroma.path();
    install(signedLibrary(c.library), chromaFolder);
    const fs::path colours = app.write("colours", "996633 20\n");
    const fs::path log = app.path() / "calls.log";
    writeHotDevTree(app, recordingApp(log));
    const char* path = std::getenv("PATH");
    const std::string socket = (app.path() / "m.sock").string();
    HostProcess host((bin / "halvix.exe").string(), {"--socket", socket, "--drive-root", app.path().string()},
                     app.path(),
                     {"PATH=" + chromaFolder.string() + ";" + (path ? path : ""),
                      "HALVIX_CHROMA_COLORS=" + colours.string()});
    ASSERT_TRUE(host.waitForSocket(socket));

    auto ctl = [&](std::vector<std::string> args) {
      args.insert(args.begin(), {"--socket", socket});
      return textLines(runToEnd((bin / "halvixctl.exe").string(), args, scratch.path()).out);
    };
    const char* sdk = "com.brisktide.corvel.methodchannel";
    EXPECT_EQ(ctl({sdk, "initSDK", R"({"sdkEnv":{"VAR_IS_HOTDEV":true},"logLevel":60})"}), "[true,\"\"]\n");
    EXPECT_EQ(ctl({sdk, "startLooper"}), "[true,\"\"]\n");
    EXPECT_EQ(ctl({"com.brisktide.com/razerkit", "enableChromaConnect", R"({"uuid":"A","enable":true})"}), "null\n");

    // Ten ticks, a second, give the library's events, 20 ms apart, time to
    // reach the lamp.
    EXPECT_TRUE(waitUntil([&] { return count(readWholeFile(log), "setColorWithoutResponse") >= 10; },
                          std::chrono::seconds(60)));
    const std::string calls = readWholeFile(log);
    EXPECT_EQ(count(calls, shown) > 0, c.accepted);
    if (!c.accepted) {
      EXPECT_EQ(count(calls, black), count(calls, "setColorWithoutResponse"));
    }
    EXPECT_EQ(initialiserRan(chromaFolder), c.accepted);

    const ProcessOutcome end = host.close();
    EXPECT_EQ(end.exitCode, 0);
    EXPECT_EQ(end.err, "");
  }
}

}  // namespace
}  // namespace halvix::test
