#include "settings/settingscipher.h"

#include <QStringList>

namespace {

const QString alphabet = QStringLiteral("Qm7,Zx2Lr9Ke0WbT5nAuJ4hYc8Vf1SdGp6Io3XgMqBtEaCsRlNvDzHyPjOiFkUw");
const QString key = QStringLiteral("tarnix sievra 1.03");

// Shift of the substitution at one position: depends on the key character and the position itself,
// so that runs of the same digit do not show as runs on disk.
qsizetype shiftAt(qsizetype position)
{
    return (key.at(position % key.size()).unicode() + position * 7) % alphabet.size();
}

QString substitute(const QString& text, int direction)
{
    const qsizetype size = alphabet.size();
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype index = alphabet.indexOf(text.at(i));
        if (index < 0)
            return QString();
        out += alphabet.at(((index + direction * shiftAt(i)) % size + size) % size);
    }
    return out;
}

} // namespace

QString CSettingsCipher::scramble(const QString& plain)
{
    QStringList codes;
    codes.reserve(plain.size());
    for (const QChar c : plain)
        codes << QString::number(c.unicode());
    return substitute(codes.join(QLatin1Char(',')), +1);
}

QString CSettingsCipher::unscramble(const QString& scrambled)
{
    const QString codes = substitute(scrambled, -1);
    if (codes.isEmpty())
        return QString();
    QString plain;
    for (const QString& code : codes.split(QLatin1Char(','))) {
        bool ok = false;
        const uint value = code.toUInt(&ok);
        if (!ok || value > 0xFFFF)
            return QString();
        plain += QChar(static_cast<char16_t>(value));
    }
    return plain;
}
