#include "EchoFilter.h"

#include "IcmpPacket.h"

#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <netinet/ip6.h>

#include <cstddef>
#include <map>
#include <optional>

namespace {

enum class Label { Reply, Error, Drop, Accept };
constexpr uint32_t keepWhole = 0x40000; // more than any packet

// Classic BPF with forward jumps to labels, resolved at the end.
class Assembler {
  public:
    void op(uint16_t code, uint32_t k = 0) { code_.push_back(BPF_STMT(code, k)); }
    // Jumps to `ifTrue` when A equals k, else falls through or to `ifFalse`.
    void jumpIfEqual(uint32_t k, Label ifTrue, std::optional<Label> ifFalse = {})
    {
        jumps_.push_back({code_.size(), ifTrue, ifFalse});
        code_.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, k, 0, 0));
    }
    // Goes on only when A equals k.
    void requireEqual(uint32_t k)
    {
        jumps_.push_back({code_.size(), std::nullopt, Label::Drop});
        code_.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, k, 0, 0));
    }
    void label(Label at) { labels_[at] = code_.size(); }

    std::vector<sock_filter> finish()
    {
        for (const Jump &jump : jumps_) {
            const auto offset = [&](std::optional<Label> to) {
                return to ? uint8_t(labels_.at(*to) - jump.at - 1) : uint8_t(0);
            };
            code_[jump.at].jt = offset(jump.ifTrue);
            code_[jump.at].jf = offset(jump.ifFalse);
        }
        return code_;
    }

  private:
    struct Jump {
        size_t at;
        std::optional<Label> ifTrue;
        std::optional<Label> ifFalse;
    };
    std::vector<sock_filter> code_;
    std::vector<Jump> jumps_;
    std::map<Label, size_t> labels_;
};

} // namespace

std::vector<sock_filter> echoFilter(icmp::Family family, uint16_t identifier)
{
    const bool v4 = family == icmp::Family::V4;
    const icmp::Types &types = icmp::types(family);
    constexpr uint32_t header = icmp::headerSize;
    constexpr uint32_t idOffset = 4;
    constexpr uint32_t lastField = header - 2; // a load past the packet's end drops it
    Assembler a;

    // X := where the ICMP message starts.
    if (v4)
        a.op(BPF_LDX | BPF_B | BPF_MSH, 0);
    else
        a.op(BPF_LDX | BPF_IMM, 0);
    a.op(BPF_LD | BPF_H | BPF_IND, lastField);
    a.op(BPF_LD | BPF_B | BPF_IND, 0);
    a.jumpIfEqual(types.echoReply, Label::Reply);
    for (uint8_t error : types.errors)
        a.jumpIfEqual(error, Label::Error);
    a.op(BPF_RET | BPF_K, 0);

    a.label(Label::Reply);
    a.op(BPF_LD | BPF_H | BPF_IND, idOffset);
    a.jumpIfEqual(identifier, Label::Accept, Label::Drop);

    // The quoted request follows the error's header and the quoted IP header.
    a.label(Label::Error);
    uint32_t quoted = header;
    if (v4) {
        a.op(BPF_LD | BPF_B | BPF_IND, header);
        a.op(BPF_ALU | BPF_AND | BPF_K, 0x0F);
        a.op(BPF_ALU | BPF_LSH | BPF_K, 2);
        a.op(BPF_ALU | BPF_ADD | BPF_X);
        a.op(BPF_MISC | BPF_TAX);
    } else {
        a.op(BPF_LD | BPF_B | BPF_IND, header + offsetof(ip6_hdr, ip6_nxt));
        a.requireEqual(IPPROTO_ICMPV6);
        quoted += sizeof(ip6_hdr);
    }
    a.op(BPF_LD | BPF_H | BPF_IND, quoted + lastField);
    a.op(BPF_LD | BPF_B | BPF_IND, quoted);
    a.requireEqual(types.echoRequest);
    a.op(BPF_LD | BPF_H | BPF_IND, quoted + idOffset);
    a.jumpIfEqual(identifier, Label::Accept, Label::Drop);

    a.label(Label::Drop);
    a.op(BPF_RET | BPF_K, 0);
    a.label(Label::Accept);
    a.op(BPF_RET | BPF_K, keepWhole);
    return a.finish();
}
