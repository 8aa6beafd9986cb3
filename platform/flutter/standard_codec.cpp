#include "platform/flutter/standard_codec.h"

#include <cstring>
#include <limits>

namespace flutter {

namespace {

enum class Tag : uint8_t {
  kNull = 0,
  kTrue = 1,
  kFalse = 2,
  kInt32 = 3,
  kInt64 = 4,
  kLargeInt = 5,
  kFloat64 = 6,
  kString = 7,
  kUint8List = 8,
  kInt32List = 9,
  kInt64List = 10,
  kFloat64List = 11,
  kList = 12,
  kMap = 13,
  kFloat32List = 14,
};

template <typename N>
N readNumber(ByteBufferStreamReader* stream) {
  N value;
  stream->ReadBytes(reinterpret_cast<uint8_t*>(&value), sizeof value);
  return value;
}

template <typename N>
void writeNumber(N value, ByteBufferStreamWriter* stream) {
  stream->WriteBytes(reinterpret_cast<const uint8_t*>(&value), sizeof value);
}

template <typename E>
std::vector<E> readTypedList(ByteBufferStreamReader* stream) {
  size_t count = StandardCodecSerializer::ReadSize(stream);
  stream->ReadAlignment(sizeof(E));
  if (count > stream->remaining() / sizeof(E)) throw CodecError("typed list runs past the end");
  std::vector<E> out(count);
  stream->ReadBytes(reinterpret_cast<uint8_t*>(out.data()), count * sizeof(E));
  return out;
}

template <typename E>
void writeTypedList(Tag tag, const std::vector<E>& list, ByteBufferStreamWriter* stream) {
  stream->WriteByte(static_cast<uint8_t>(tag));
  StandardCodecSerializer::WriteSize(list.size(), stream);
  stream->WriteAlignment(sizeof(E));
  stream->WriteBytes(reinterpret_cast<const uint8_t*>(list.data()), list.size() * sizeof(E));
}

std::string readString(ByteBufferStreamReader* stream) {
  size_t size = StandardCodecSerializer::ReadSize(stream);
  if (size > stream->remaining()) throw CodecError("string runs past the end");
  std::string out(size, '\0');
  stream->ReadBytes(reinterpret_cast<uint8_t*>(out.data()), size);
  return out;
}

}  // namespace

const StandardCodecSerializer& StandardCodecSerializer::GetInstance() {
  static const StandardCodecSerializer instance;
  return instance;
}

size_t StandardCodecSerializer::ReadSize(ByteBufferStreamReader* stream) {
  uint8_t byte = stream->ReadByte();
  if (byte < 254) return byte;
  if (byte == 254) return readNumber<uint16_t>(stream);
  return readNumber<uint32_t>(stream);
}

void StandardCodecSerializer::WriteSize(size_t size, ByteBufferStreamWriter* stream) {
  if (size < 254) {
    stream->WriteByte(static_cast<uint8_t>(size));
  } else if (size <= 0xffff) {
    stream->WriteByte(254);
    writeNumber(static_cast<uint16_t>(size), stream);
  } else if (size <= std::numeric_limits<uint32_t>::max()) {
    stream->WriteByte(255);
    writeNumber(static_cast<uint32_t>(size), stream);
  } else {
    throw CodecError("value too large for the standard codec");
  }
}

EncodableValue StandardCodecSerializer::ReadValue(ByteBufferStreamReader* stream) const {
  return ReadValueAtDepth(stream, 0);
}

EncodableValue StandardCodecSerializer::ReadValueAtDepth(ByteBufferStreamReader* stream, int depth) const {
  if (depth > kMaxNestingDepth) throw CodecError("values nested too deeply");
  uint8_t tag = stream->ReadByte();
  switch (static_cast<Tag>(tag)) {
    case Tag::kNull:
      return EncodableValue();
    case Tag::kTrue:
      return EncodableValue(true);
    case Tag::kFalse:
      return EncodableValue(false);
    case Tag::kInt32:
      return EncodableValue(readNumber<int32_t>(stream));
    case Tag::kInt64:
      return EncodableValue(readNumber<int64_t>(stream));
    case Tag::kFloat64:
      stream->ReadAlignment(8);
      return EncodableValue(readNumber<double>(stream));
    case Tag::kLargeInt:
    case Tag::kString:
      return EncodableValue(readString(stream));
    case Tag::kUint8List:
      return EncodableValue(readTypedList<uint8_t>(stream));
    case Tag::kInt32List:
      return EncodableValue(readTypedList<int32_t>(stream));
    case Tag::kInt64List:
      return EncodableValue(readTypedList<int64_t>(stream));
    case Tag::kFloat64List:
      return EncodableValue(readTypedList<double>(stream));
    case Tag::kFloat32List:
      return EncodableValue(readTypedList<float>(stream));
    case Tag::kList: {
      size_t count = ReadSize(stream);
      if (count > stream->remaining()) throw CodecError("list runs past the end");
      EncodableList list;
      list.reserve(count);
      for (size_t i = 0; i < count; ++i) list.push_back(ReadValueAtDepth(stream, depth + 1));
      return EncodableValue(std::move(list));
    }
    case Tag::kMap: {
      size_t count = ReadSize(stream);
      if (count > stream->remaining() / 2) throw CodecError("map runs past the end");
      EncodableMap map;
      for (size_t i = 0; i < count; ++i) {
        EncodableValue key = ReadValueAtDepth(stream, depth + 1);
        EncodableValue value = ReadValueAtDepth(stream, depth + 1);
        map.emplace(std::move(key), std::move(value));
      }
      return EncodableValue(std::move(map));
    }
  }
  throw CodecError("unknown type tag " + std::to_string(tag));
}

void StandardCodecSerializer::WriteValue(const EncodableValue& value, ByteBufferStreamWriter* stream) const {
  switch (value.index()) {
    case 0:
      stream->WriteByte(static_cast<uint8_t>(Tag::kNull));
      return;
    case 1:
      stream->WriteByte(static_cast<uint8_t>(std::get<bool>(value) ? Tag::kTrue : Tag::kFalse));
      return;
    case 2:
      stream->WriteByte(static_cast<uint8_t>(Tag::kInt32));
      writeNumber(std::get<int32_t>(value), stream);
      return;
    case 3:
      stream->WriteByte(static_cast<uint8_t>(Tag::kInt64));
      writeNumber(std::get<int64_t>(value), stream);
      return;
    case 4:
      stream->WriteByte(static_cast<uint8_t>(Tag::kFloat64));
      stream->WriteAlignment(8);
      writeNumber(std::get<double>(value), stream);
      return;
    case 5: {
      const auto& s = std::get<std::string>(value);
      stream->WriteByte(static_cast<uint8_t>(Tag::kString));
      WriteSize(s.size(), stream);
      stream->WriteBytes(reinterpret_cast<const uint8_t*>(s.data()), s.size());
      return;
    }
    case 6: {
      const auto& bytes = std::get<std::vector<uint8_t>>(value);
      stream->WriteByte(static_cast<uint8_t>(Tag::kUint8List));
      WriteSize(bytes.size(), stream);
      stream->WriteBytes(bytes.data(), bytes.size());
      return;
    }
    case 7:
      writeTypedList(Tag::kInt32List, std::get<std::vector<int32_t>>(value), stream);
      return;
    case 8:
      writeTypedList(Tag::kInt64List, std::get<std::vector<int64_t>>(value), stream);
      return;
    case 9:
      writeTypedList(Tag::kFloat64List, std::get<std::vector<double>>(value), stream);
      return;
    case 10: {
      const auto& list = std::get<EncodableList>(value);
      stream->WriteByte(static_cast<uint8_t>(Tag::kList));
      WriteSize(list.size(), stream);
      for (const auto& item : list) WriteValue(item, stream);
      return;
    }
    case 11: {
      const auto& map = std::get<EncodableMap>(value);
      stream->WriteByte(static_cast<uint8_t>(Tag::kMap));
      WriteSize(map.size(), stream);
      for (const auto& [k, v] : map) {
        WriteValue(k, stream);
        WriteValue(v, stream);
      }
      return;
    }
    case 12:
      writeTypedList(Tag::kFloat32List, std::get<std::vector<float>>(value), stream);
      return;
  }
  throw CodecError("value holds no encodable type");
}

const StandardMessageCodec& StandardMessageCodec::GetInstance() {
  static const StandardMessageCodec instance;
  return instance;
}

std::unique_ptr<std::vector<uint8_t>> StandardMessageCodec::EncodeMessage(const EncodableValue& message) const {
  auto out = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter stream(out.get());
  StandardCodecSerializer::GetInstance().WriteValue(message, &stream);
  return out;
}

std::unique_ptr<EncodableValue> StandardMessageCodec::DecodeMessage(const uint8_t* bytes, size_t size,
                                                                    std::string* error) const {
  try {
    ByteBufferStreamReader stream(bytes, size);
    auto value = std::make_unique<EncodableValue>(StandardCodecSerializer::GetInstance().ReadValue(&stream));
    if (stream.remaining() != 0) throw CodecError("trailing bytes after the value");
    return value;
  } catch (const CodecError& e) {
    if (error) *error = e.what();
    return nullptr;
  }
}

const StandardMethodCodec& StandardMethodCodec::GetInstance() {
  static const StandardMethodCodec instance;
  return instance;
}

std::unique_ptr<MethodCall<EncodableValue>> StandardMethodCodec::DecodeMethodCall(const uint8_t* message,
                                                                                  size_t message_size) const {
  try {
    const auto& serializer = StandardCodecSerializer::GetInstance();
    ByteBufferStreamReader stream(message, message_size);
    EncodableValue name = serializer.ReadValue(&stream);
    if (!std::holds_alternative<std::string>(name)) return nullptr;
    auto arguments = std::make_unique<EncodableValue>(serializer.ReadValue(&stream));
    if (stream.remaining() != 0) return nullptr;
    return std::make_unique<MethodCall<EncodableValue>>(std::get<std::string>(name), std::move(arguments));
  } catch (const CodecError&) {
    return nullptr;
  }
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeMethodCall(
    const MethodCall<EncodableValue>& method_call) const {
  const auto& serializer = StandardCodecSerializer::GetInstance();
  auto out = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter stream(out.get());
  serializer.WriteValue(EncodableValue(method_call.method_name()), &stream);
  if (method_call.arguments())
    serializer.WriteValue(*method_call.arguments(), &stream);
  else
    serializer.WriteValue(EncodableValue(), &stream);
  return out;
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeSuccessEnvelope(const EncodableValue* result) const {
  const auto& serializer = StandardCodecSerializer::GetInstance();
  auto out = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter stream(out.get());
  stream.WriteByte(0);
  serializer.WriteValue(result ? *result : EncodableValue(), &stream);
  return out;
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeErrorEnvelope(
    const std::string& error_code, const std::string& error_message, const EncodableValue* error_details) const {
  const auto& serializer = StandardCodecSerializer::GetInstance();
  auto out = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter stream(out.get());
  stream.WriteByte(1);
  serializer.WriteValue(EncodableValue(error_code), &stream);
  // An empty message travels as null, as the Dart side expects.
  serializer.WriteValue(error_message.empty() ? EncodableValue() : EncodableValue(error_message), &stream);
  serializer.WriteValue(error_details ? *error_details : EncodableValue(), &stream);
  return out;
}

bool StandardMethodCodec::DecodeAndProcessResponseEnvelope(const uint8_t* response, size_t response_size,
                                                           MethodResult<EncodableValue>* result) const {
  if (response_size == 0) {
    if (result) result->NotImplemented();
    return true;
  }
  const auto& serializer = StandardCodecSerializer::GetInstance();
  try {
    ByteBufferStreamReader stream(response, response_size);
    uint8_t kind = stream.ReadByte();
    if (kind == 0) {
      EncodableValue value = serializer.ReadValue(&stream);
      if (stream.remaining() != 0) return false;
      if (result) result->Success(value);
      return true;
    }
    if (kind != 1) return false;
    EncodableValue code = serializer.ReadValue(&stream);
    EncodableValue message = serializer.ReadValue(&stream);
    EncodableValue details = serializer.ReadValue(&stream);
    if (stream.remaining() != 0 || !std::holds_alternative<std::string>(code)) return false;
    if (!message.IsNull() && !std::holds_alternative<std::string>(message)) return false;
    std::string text = message.IsNull() ? std::string() : std::get<std::string>(message);
    if (result) result->Error(std::get<std::string>(code), text, details);
    return true;
  } catch (const CodecError&) {
    return false;
  }
}

}  // namespace flutter
