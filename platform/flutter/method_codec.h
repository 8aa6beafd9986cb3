#pragma once
// Translates method calls and their answers to and from bytes.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/flutter/method_call.h"
#include "platform/flutter/method_result.h"

namespace flutter {

template <typename T>
class MethodCodec {
 public:
  MethodCodec() = default;
  virtual ~MethodCodec() = default;
  MethodCodec(const MethodCodec&) = delete;
  MethodCodec& operator=(const MethodCodec&) = delete;

  // Null when the bytes are not a well-formed method call.
  virtual std::unique_ptr<MethodCall<T>> DecodeMethodCall(const uint8_t* message, size_t message_size) const = 0;
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeMethodCall(const MethodCall<T>& method_call) const = 0;
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeSuccessEnvelope(const T* result = nullptr) const = 0;
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeErrorEnvelope(const std::string& error_code,
                                                                    const std::string& error_message = "",
                                                                    const T* error_details = nullptr) const = 0;
  // Hands a reply to `result`: an empty reply is NotImplemented. False when
  // the bytes are not a well-formed envelope (nothing is handed over then).
  virtual bool DecodeAndProcessResponseEnvelope(const uint8_t* response, size_t response_size,
                                                MethodResult<T>* result) const = 0;
};

}  // namespace flutter
