// Reply assembly from arbitrary chunk sequences: PollReply (the measurement thread's polling
// receive) and ReceiveReply (the blocking one), through the in-memory serial line.
//
// Input: one mode byte, then chunks, each a length byte and that many bytes (the last one may
// be short). A length byte of 0xFF is a run instead: the next byte repeated 64 times the byte
// after, so that small inputs can reach the reply length cap.
// Mode bits 0-2: 6 ReceiveReply with the chunks arriving one by one and a line end after the
// last; 7 ReceiveReply with the bytes of every chunk waiting at once and no time to wait for
// more; any other value PollReply once per chunk (the receive sleeps 1 ms per look, so it gets
// the smaller share of the runs).
// Mode bit 3: the meter is a KTV (the polling receive fixes its reply up at the line end).
// Mode bits 4-5: a read fault of the line (1 short reads, 2 failed reads, 3 failed status).
//
// Beyond not crashing, the reply is compared with a plain model of the line assembly: every
// byte but CR, LF and NUL kept in order up to MaxReplyLength, complete once both CR and LF have
// come, the bytes of a completing chunk kept whole.
#include <cstdint>
#include <vector>

#include <QByteArray>
#include <QString>

#include "fuzz/fuzz_link.h"

namespace {

using lyr::CMeterComm;
using lyr::MaxReplyLength;
using lyr::test::MemorySerialDevice;

constexpr std::size_t kMaxReceiveChunks = 4;  // each further chunk costs the receive 1 ms

void Check(bool ok, const char* what) {
    if (!ok) lyr::fuzz::Fail("reply_assembly_fuzz", what);
}

std::vector<QByteArray> SplitChunks(const std::uint8_t* data, std::size_t size) {
    std::vector<QByteArray> chunks;
    std::size_t i = 0;
    while (i < size) {
        const std::size_t length = data[i++];
        if (length == 0xFF) {
            const char byte = i < size ? static_cast<char>(data[i]) : 'x';
            const qsizetype count = i + 1 < size ? data[i + 1] * 64 : 64;
            i += 2;
            chunks.emplace_back(count, byte);
            continue;
        }
        const std::size_t take = std::min(length, size - i);
        chunks.emplace_back(reinterpret_cast<const char*>(data + i), static_cast<qsizetype>(take));
        i += take;
    }
    return chunks;
}

// The line assembly as the meters' protocol defines it.
struct ModelLine {
    bool CrSeen = false;
    bool LfSeen = false;
    QString Text;

    // Feeds one chunk; `atLineEnd` runs once, after the byte that completes the line.
    template <typename AtLineEnd>
    void Feed(const QByteArray& chunk, AtLineEnd&& atLineEnd) {
        for (const char c : chunk) {
            const bool wasComplete = CrSeen && LfSeen;
            if (c == '\r')
                CrSeen = true;
            else if (c == '\n')
                LfSeen = true;
            else if (c != '\0' && Text.size() < MaxReplyLength)
                Text.append(QChar(static_cast<unsigned char>(c)));
            if (!wasComplete && CrSeen && LfSeen) atLineEnd(Text);
        }
    }
    [[nodiscard]] bool Complete() const { return CrSeen && LfSeen; }
};

void CheckText(const QString& text, qsizetype limit) {
    Check(text.size() <= limit, "reply longer than the cap");
    for (const QChar c : text) {
        Check(c != u'\r' && c != u'\n' && c != u'\0', "CR, LF or NUL in the reply");
        Check(c.unicode() <= 0xFF, "reply character beyond Latin-1");
    }
}

void FuzzPollReply(CMeterComm& link, MemorySerialDevice& line,
                   const std::vector<QByteArray>& chunks, bool ktv, bool faulty) {
    link.ModelFamily = ktv ? lyr::FamilyKtv : lyr::FamilyLyr;
    ModelLine model;
    for (const QByteArray& chunk : chunks) {
        line.feedReceived(chunk);
        const bool complete = link.PollReply();
        CheckText(link.ReplyBuffer, MaxReplyLength + 12);  // the KTV marker comes on top
        if (faulty) continue;
        model.Feed(chunk, [&](QString& text) {
            if (ktv) CMeterComm::FixUpReply(text);
        });
        Check(complete == (!chunk.isEmpty() && model.Complete()), "PollReply result");
        Check(link.CrSeen == model.CrSeen && link.LfSeen == model.LfSeen, "line end flags");
        Check(link.ReplyBuffer == model.Text, "PollReply text");
    }
}

void FuzzReceiveReply(CMeterComm& link, lyr::fuzz::ChunkFeeder& device,
                      std::vector<QByteArray> chunks, bool oneByOne) {
    ModelLine model;
    if (oneByOne) {
        if (chunks.size() > kMaxReceiveChunks) chunks.resize(kMaxReceiveChunks);
        chunks.emplace_back("\r\n");
        for (const QByteArray& chunk : chunks) {
            if (model.Complete()) break;
            model.Feed(chunk, [](QString&) {});
        }
        device.Chunks.assign(chunks.begin(), chunks.end());
    } else {
        QByteArray all;
        for (const QByteArray& chunk : chunks) all += chunk;
        model.Feed(all, [](QString&) {});
        device.Line.feedReceived(all);
    }
    // One by one, every chunk is taken long before this; all at once, the first look decides.
    const QString reply = link.ReceiveReply(oneByOne ? 60000 : 0);
    device.Chunks.clear();

    CheckText(reply, MaxReplyLength);
    Check(!reply.contains(u';'), "';' left in a received reply");
    QString expected = model.Complete() ? model.Text : QString();
    expected.replace(u';', u',');
    Check(reply == expected, "ReceiveReply text");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    lyr::fuzz::FuzzLink& fuzzLink = lyr::fuzz::TheFuzzLink();
    CMeterComm& link = *fuzzLink.Comm;
    lyr::fuzz::ChunkFeeder& device = *fuzzLink.Device;

    const unsigned mode = data[0];
    const std::vector<QByteArray> chunks = SplitChunks(data + 1, size - 1);
    const unsigned path = mode & 7;
    const bool ktv = (mode & 8) != 0;
    constexpr MemorySerialDevice::Fault kFaults[] = {
        MemorySerialDevice::Fault::None, MemorySerialDevice::Fault::ShortRead,
        MemorySerialDevice::Fault::Read, MemorySerialDevice::Fault::BytesWaiting};
    const MemorySerialDevice::Fault fault = kFaults[(mode >> 4) & 3];

    // Every exchange starts with a command, which empties the line and resets the reply.
    Check(link.SendCommand(":FETC?"), "SendCommand on the memory line");
    device.Line.clearWritten();
    Check(link.ReplyBuffer.isEmpty() && !link.CrSeen && !link.LfSeen, "reply state reset");

    if (path == 6 || path == 7) {
        FuzzReceiveReply(link, device, chunks, path == 6);
    } else {
        device.Line.injectError(fault);
        FuzzPollReply(link, device.Line, chunks, ktv, fault != MemorySerialDevice::Fault::None);
        device.Line.injectError(MemorySerialDevice::Fault::None);
    }
    return 0;
}
