#pragma once
// Where the messenger socket lives and whom its two ends trust: the default
// location that hosts and halvixctl agree on, the host's check of the folder
// that holds it, and the client's check of who serves it.
#include <sys/types.h>
#include <sys/un.h>

#include <optional>
#include <string>

namespace halvix::flutter_engine {

// Where a host listens and halvixctl connects when no socket path is given.
struct MessengerSocketLocation {
  std::string path;
  // The folder holding the socket; it must belong to the user.
  std::string folder;
  // True for the folder under the shared temporary folder, which the host
  // creates with mode 0700 and which must stay private: another user could
  // have made it first.
  bool privateFolder = false;
};

// $XDG_RUNTIME_DIR/halvix-messenger.sock (that folder is the user's own and
// private already), else /tmp/halvix-<uid>/messenger.sock.
MessengerSocketLocation defaultMessengerSocketLocation();
// The same rule for a given runtime folder (null or empty when there is none)
// and shared temporary folder.
MessengerSocketLocation messengerSocketLocation(const char* runtimeDir, const std::string& tempDir);
std::string defaultMessengerSocketPath();

// Host side, before listening at a default location: creates the private
// folder when it is missing, then checks that the folder belongs to the user
// and, for the private folder, that it is a directory that no group or other
// user may enter. Empty when the folder is fit, else a message that names it
// and says what is wrong.
std::string prepareMessengerSocketFolder(const MessengerSocketLocation& location);

// The address of the socket at `path`; nullopt when the path is empty or
// does not fit.
std::optional<sockaddr_un> messengerSocketAddress(const std::string& path);

// The user id of the process at the other end of the connected socket `fd`;
// nullopt when the system cannot tell.
std::optional<uid_t> messengerPeerUid(int fd);

}  // namespace halvix::flutter_engine
