#pragma once

// Builds the kernel's answers to routing dumps, for tests and fuzz seeds.

#include <linux/netlink.h>
#include <linux/rtnetlink.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace netlink {

using Bytes = std::vector<std::uint8_t>;

// Netlink messages: header, fixed part, attributes, each padded to four bytes.
class Answer {
public:
    explicit Answer(std::uint32_t sequence) : m_sequence(sequence) {}

    template <typename Body>
    void message(std::uint16_t type, const Body& body, const Bytes& attributes = {})
    {
        nlmsghdr header{};
        header.nlmsg_len = static_cast<std::uint32_t>(NLMSG_LENGTH(sizeof(Body)) + attributes.size());
        header.nlmsg_type = type;
        header.nlmsg_flags = NLM_F_MULTI;
        header.nlmsg_seq = m_sequence;
        append(&header, sizeof header);
        append(&body, sizeof body);
        pad();
        m_bytes.insert(m_bytes.end(), attributes.begin(), attributes.end());
    }
    void done() { message(NLMSG_DONE, std::int32_t{0}); }
    // Padded with zeros to a multiple of `step` bytes (the fuzz target cuts its input in steps of eight).
    Bytes bytes(std::size_t step = 4) const
    {
        Bytes out = m_bytes;
        out.resize((out.size() + step - 1) / step * step, 0);
        return out;
    }

    static Bytes attribute(std::uint16_t type, const void* data, std::size_t size)
    {
        rtattr header{};
        header.rta_len = static_cast<unsigned short>(RTA_LENGTH(size));
        header.rta_type = type;
        Bytes out(RTA_SPACE(size), 0);
        std::memcpy(out.data(), &header, sizeof header);
        std::memcpy(out.data() + RTA_LENGTH(0), data, size);
        return out;
    }

private:
    void append(const void* data, std::size_t size)
    {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        m_bytes.insert(m_bytes.end(), bytes, bytes + size);
    }
    void pad() { m_bytes.resize((m_bytes.size() + 3) / 4 * 4, 0); }

    std::uint32_t m_sequence;
    Bytes m_bytes;
};

}  // namespace netlink
