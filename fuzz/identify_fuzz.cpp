// The identification split: Identify on an arbitrary answer to "*idn?" (the input, followed by
// CR LF), through the in-memory serial line.
//
// Beyond not crashing: a meter is accepted exactly when the maker field is "ZORVA"; the family
// follows the supported model names found in the model field; the serial number is the third
// field for a supported model and the unknown marker otherwise; a refused answer changes
// nothing; only a KTV meter is sent its format command.
#include <cstdint>

#include <QByteArray>
#include <QString>

#include "fuzz/fuzz_link.h"

namespace {

using lyr::CMeterComm;

QByteArray g_answer;

void Check(bool ok, const char* what) {
    if (!ok) lyr::fuzz::Fail("identify_fuzz", what);
}

// The reply line as the link receives it. The whole answer arrives as one chunk that ends the
// line, so every byte of it but CR, LF and NUL is kept, up to the cap; ';' becomes ','.
QString ReceivedLine(const QByteArray& bytes) {
    QString text;
    for (const char c : bytes) {
        if (c != '\r' && c != '\n' && c != '\0' && text.size() < lyr::MaxReplyLength)
            text.append(QChar(static_cast<unsigned char>(c)));
    }
    text.replace(u';', u',');
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    lyr::fuzz::TheFuzzLink().Device->Line.setResponder(
        [](const QByteArray& line, std::uint32_t) -> QByteArray {
            return line == "*idn?" ? g_answer + "\r\n" : QByteArray();
        });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CMeterComm& link = *lyr::fuzz::TheFuzzLink().Comm;
    auto& line = lyr::fuzz::TheFuzzLink().Device->Line;
    g_answer = QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    link.Connected = true;
    link.ModelFamily = 5;  // none of the families: shows whether Identify set it
    link.SerialNumber = QStringLiteral("unchanged");
    line.clearWritten();

    QString maker = QStringLiteral("m");
    QString model = QStringLiteral("m");
    QString serial = QStringLiteral("s");
    const bool identified = link.Identify(maker, model, serial);

    const QString reply = ReceivedLine(g_answer);
    const QStringList fields = reply.split(u',');
    Check(identified == (fields.size() >= 2 && fields[0] == QLatin1String("ZORVA")),
          "accepted exactly when the maker field is ZORVA");
    if (!identified) {
        Check(link.ModelFamily == 5 && link.SerialNumber == QLatin1String("unchanged"),
              "a refused answer changed the identity");
        Check(maker == u"m" && model == u"m" && serial == u"s", "a refused answer set the fields");
        return 0;
    }

    Check(maker == QLatin1String("ZORVA"), "maker");
    Check(model == (fields.size() >= 3 ? fields[1] : QString()), "model field");
    int family = lyr::FamilyNone;
    for (const lyr::SupportedModel& supported : lyr::SupportedModelTable) {
        if (model.contains(QLatin1String(supported.Name.data(),
                                         static_cast<qsizetype>(supported.Name.size())))) {
            family = supported.Family;
            break;
        }
    }
    Check(link.ModelFamily == family, "family of the model field");
    const QString third = fields.size() >= 4 ? fields[2] : QString();
    Check(serial == (family != lyr::FamilyNone ? third : QStringLiteral("--------")),
          "serial number");
    Check(link.SerialNumber == serial, "SerialNumber kept");

    const QList<QByteArray> lines = line.writtenLines();
    QList<QByteArray> expected{QByteArray(), QByteArray("*idn?")};
    if (family == lyr::FamilyKtv) expected << QByteArray(":SYST:COMM:FORM FIX");
    Check(lines == expected, "commands sent");
    return 0;
}
