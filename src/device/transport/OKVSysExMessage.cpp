#include "device/transport/OKVSysExMessage.h"

OKVSysExMessage::OKVSysExMessage(const std::uint8_t* bytes, std::int64_t count)
    : byteData(bytes, bytes + (count > 0 ? count : 0)), size(count > 0 ? count : 0)
{
}
