#include "sdk/result_report.h"

#include <utility>

namespace halvix::sdk {

void reportResult(ResultCallback callback, bool ok, std::string_view message) {
  msgpack::sbuffer buffer;
  msgpack::packer<msgpack::sbuffer> packer(buffer);
  packer.pack(ok);
  packer.pack(message);

  std::vector<msgpack::object_handle> results;
  std::size_t offset = 0;
  while (offset < buffer.size()) results.push_back(msgpack::unpack(buffer.data(), buffer.size(), offset));

  ResultCallback local = std::move(callback);
  if (local) local(results);
}

}  // namespace halvix::sdk
