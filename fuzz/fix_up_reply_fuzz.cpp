// FixUpReply on arbitrary reply texts, as the link makes them: one Latin-1 character per byte.
//
// Beyond not crashing: the result is always value ',' judgement without any ';' left, and a
// reply that carried no judgement keeps its value behind the no-value marker.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <QString>

#include "link/meter_comm.h"

namespace {
[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fix_up_reply_fuzz: %s\n", what);
    std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString reply =
        QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QString fixed = reply;
    lyr::CMeterComm::FixUpReply(fixed);

    if (fixed.contains(u';')) Fail("a ';' is left");
    if (!fixed.contains(u',')) Fail("no ',' between value and judgement");
    QString expected = reply;
    if (reply.isEmpty() || !reply.contains(u';')) expected.prepend(QStringLiteral("-----------;"));
    expected.replace(u';', u',');
    if (fixed != expected) Fail("the reply was changed beyond its separators");
    return 0;
}
