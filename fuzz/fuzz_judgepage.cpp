// The reading of a judge's page, as a proxy may send it, on any bytes: the first byte gives the marker's length, the
// marker follows, the rest is the reply. A page called the judge's holds the marker behind a 200 head; a reply
// complete by its length is never called cut; the address found is a whole IPv4 address of the body, not the one
// left out.
#include "check/judgepage.h"
#include "qtlib/web/httpreply.h"

#include <QHostAddress>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype markerLength = qMin<qsizetype>(quint8(input.at(0)) % 16 + 1, input.size() - 1);
    const QByteArray marker = input.mid(1, markerLength);
    const QByteArray reply = input.mid(1 + markerLength);

    const JudgePage::Verdict verdict = JudgePage::judge(reply, marker);
    const HttpReplyHead head = HttpReplyHead::parse(reply);
    if (verdict == JudgePage::IsJudge &&
        (head.status != 200 || !head.complete || reply.indexOf(marker, head.bodyStart) < 0))
        std::abort();
    if (JudgePage::isComplete(reply) && verdict == JudgePage::Cut)
        std::abort();
    if ((verdict == JudgePage::Login) != (head.status == 407 || head.status == 401))
        std::abort();
    if (reply.isEmpty() != (verdict == JudgePage::NothingCame))
        std::abort();

    const QString except = QStringLiteral("10.0.0.1");
    const QString seen = JudgePage::firstAddress(reply, except);
    if (!seen.isEmpty()) {
        QHostAddress address;
        if (seen == except || !address.setAddress(seen) || address.protocol() != QAbstractSocket::IPv4Protocol ||
            address.toString() != seen || !JudgePage::mentionsAddress(reply, seen))
            std::abort();
    }
    JudgePage::showsProxyHeader(reply);
    return 0;
}
