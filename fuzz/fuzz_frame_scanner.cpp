// Feeds the frame scanner a sequence of datagrams cut from the input, with gaps
// between some of them, and checks what it hands on: every record a whole frame that
// fits, never more carried bytes than the protocol buffer holds.
#include "fuzz/FuzzStart.h"
#include "vci/transport/KvVciFrameScanner.h"

#include <cstdint>
#include <string>
#include <vector>

// Input: repeated [control byte][length high][length low][bytes]. The control byte's
// low bit asks for a gap (lost datagrams) before the datagram, bit 1 marks it cut short.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string tag = "0";
    KvVciLossCounters losses;
    KvVciFrameScanner scanner(tag, losses);
    std::size_t records = 0;
    const KvVciFrameScanner::BatchCallback deliver = [&](const std::vector<_KvVciProtocolData>& batch) {
        check(!batch.empty() && batch.size() <= KvVciFrameScanner::kMaxBatch);
        for (const _KvVciProtocolData& record : batch) {
            check(record.length <= kVciMaxPayload);
        }
        records += batch.size();
    };
    std::size_t at = 0;
    while (size - at >= 3) {
        const std::uint8_t control = data[at];
        std::size_t length = (static_cast<std::size_t>(data[at + 1]) << 8) | data[at + 2];
        at += 3;
        if (length > size - at) {
            length = size - at;
        }
        if (control & 1) {
            scanner.discardCarried();
        }
        scanner.feed(data + at, length, deliver);
        if (control & 2) {
            scanner.discardCarried();
        }
        check(scanner.carried() <= KvVciFrameScanner::kProtocolBufferSize);
        at += length;
    }
    // every record came from at least kVciFrameOverhead input bytes
    check(records * kVciFrameOverhead <= size);
    return 0;
}
