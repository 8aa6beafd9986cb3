#pragma once
// Flutter's standard message and method codecs, byte for byte.
//
// value    = tag payload
//   0 null | 1 true | 2 false | 3 int32 (4 bytes) | 4 int64 (8 bytes)
//   5 large int, read as its decimal string | 6 float64: pad to 8, 8 bytes
//   7 string: size, UTF-8 | 8 Uint8List: size, bytes
//   9 Int32List: size, pad to 4, elements | 10 Int64List: size, pad to 8
//   11 Float64List: size, pad to 8 | 14 Float32List: size, pad to 4
//   12 list: size, values | 13 map: size, key value pairs
// size     = byte < 254 | 254 u16 | 255 u32
// Numbers are little-endian; padding is zero bytes up to a multiple of the
// alignment counted from the start of the whole message, also for empty
// typed lists.
// call     = value(method name: string) value(arguments, null when none)
// reply    = 0 value | 1 value(code: string) value(message: string|null) value(details)
//          | nothing at all: not implemented
//
// Unlike Flutter's own decoder, this one rejects truncated input, unknown
// tags, sizes past the end, trailing bytes and nesting deeper than
// kMaxNestingDepth.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/flutter/byte_streams.h"
#include "platform/flutter/encodable_value.h"
#include "platform/flutter/method_codec.h"

namespace flutter {

class StandardCodecSerializer {
 public:
  static constexpr int kMaxNestingDepth = 128;

  static const StandardCodecSerializer& GetInstance();

  // Throws CodecError on bad input.
  EncodableValue ReadValue(ByteBufferStreamReader* stream) const;
  void WriteValue(const EncodableValue& value, ByteBufferStreamWriter* stream) const;

  static size_t ReadSize(ByteBufferStreamReader* stream);
  static void WriteSize(size_t size, ByteBufferStreamWriter* stream);

 private:
  EncodableValue ReadValueAtDepth(ByteBufferStreamReader* stream, int depth) const;
};

class StandardMessageCodec {
 public:
  static const StandardMessageCodec& GetInstance();

  std::unique_ptr<std::vector<uint8_t>> EncodeMessage(const EncodableValue& message) const;
  // Null on bad input; `error` (when given) then says why.
  std::unique_ptr<EncodableValue> DecodeMessage(const uint8_t* bytes, size_t size,
                                                std::string* error = nullptr) const;
  std::unique_ptr<EncodableValue> DecodeMessage(const std::vector<uint8_t>& bytes) const {
    return DecodeMessage(bytes.data(), bytes.size());
  }
};

class StandardMethodCodec : public MethodCodec<EncodableValue> {
 public:
  static const StandardMethodCodec& GetInstance();

  std::unique_ptr<MethodCall<EncodableValue>> DecodeMethodCall(const uint8_t* message,
                                                               size_t message_size) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeMethodCall(const MethodCall<EncodableValue>& method_call) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeSuccessEnvelope(const EncodableValue* result = nullptr) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeErrorEnvelope(const std::string& error_code,
                                                            const std::string& error_message = "",
                                                            const EncodableValue* error_details = nullptr) const override;
  bool DecodeAndProcessResponseEnvelope(const uint8_t* response, size_t response_size,
                                        MethodResult<EncodableValue>* result) const override;
};

}  // namespace flutter
