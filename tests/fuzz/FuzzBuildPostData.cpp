// libFuzzer target over the request encoding. The input is a list of UTF-8 segments split
// by 0xFF bytes (never valid UTF-8), read as alternating keys and values. The body that
// buildPostData() makes from them is decoded again and checked against the map, against
// code-unit order, and against a signature rebuilt here without TzCloud's own helpers.

#include "TzCloud.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QList>
#include <QMap>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace
{
const char secret[] = "9e07b1c4d36f";

[[noreturn]] void fail(const char *what, const QByteArray &body)
{
    std::fprintf(stderr, "buildPostData: %s\nbody: %s\n", what, body.constData());
    std::abort();
}

bool unreserved(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

// Form encoding written out byte by byte: unreserved bytes stay, a space becomes '+',
// everything else becomes %XX in upper-case hex.
QByteArray formEncode(const QString &value)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    for (const char byte : value.toUtf8()) {
        const auto c = static_cast<unsigned char>(byte);
        if (unreserved(c)) {
            out += char(c);
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

QString formDecode(QByteArray encoded)
{
    encoded.replace('+', ' ');
    return QString::fromUtf8(QByteArray::fromPercentEncoding(encoded));
}

bool codeUnitLess(const QString &a, const QString &b)
{
    return std::lexicographical_compare(a.utf16(), a.utf16() + a.size(), b.utf16(),
                                        b.utf16() + b.size());
}

QMap<QString, QString> parseInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> segments =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size)).split('\xff');
    QMap<QString, QString> params;
    for (int i = 0; i + 1 < segments.size(); i += 2)
        params.insert(QString::fromUtf8(segments[i]), QString::fromUtf8(segments[i + 1]));
    return params;
}

using Fields = QList<std::pair<QString, QByteArray>>; // key, encoded value

// The body the service expects for these parameters at time T, built from first
// principles: sort by code unit, form-encode the values, sign, then join.
QByteArray expectedBody(QMap<QString, QString> params, const QByteArray &time,
                        QByteArray *digestOut = nullptr)
{
    params.insert(QStringLiteral("sessionkey"), QStringLiteral("deskagent"));
    params.insert(QStringLiteral("resttime"), QString::fromLatin1(time));
    QStringList keys = params.keys();
    std::sort(keys.begin(), keys.end(), codeUnitLess);

    QByteArray signing;
    for (const QString &key : keys)
        signing += key.toUtf8() + '=' + formEncode(params.value(key)) + '&';
    signing += secret;
    const QByteArray digest = QCryptographicHash::hash(signing, QCryptographicHash::Md5).toHex();
    if (digestOut)
        *digestOut = digest;

    if (!keys.contains(QStringLiteral("restauth"))) {
        keys.append(QStringLiteral("restauth"));
        std::sort(keys.begin(), keys.end(), codeUnitLess);
    }
    QByteArray body;
    for (const QString &key : keys) {
        if (!body.isEmpty())
            body += '&';
        body += key.toUtf8() + '=' +
                (key == QLatin1String("restauth") ? digest : formEncode(params.value(key)));
    }
    return body;
}

// Every digit run that follows "resttime=": the request time is one of them.
QList<QByteArray> timeCandidates(const QByteArray &body)
{
    QList<QByteArray> candidates;
    for (int at = body.indexOf("resttime="); at >= 0; at = body.indexOf("resttime=", at + 1)) {
        int end = at + 9;
        while (end < body.size() && body[end] >= '0' && body[end] <= '9')
            ++end;
        candidates.append(body.mid(at + 9, end - at - 9));
    }
    return candidates;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 4096)
        return 0;
    const QMap<QString, QString> params = parseInput(data, size);
    const QByteArray body = TzCloud::buildPostData(params);

    // Keys are written raw, as the service expects, so a key holding '&' or '=' makes a
    // body that cannot be split back into fields; it still has to match the rebuilt one.
    bool splittable = true;
    for (const QString &key : params.keys())
        splittable = splittable && !key.contains(QLatin1Char('&')) && !key.contains('=');

    if (!splittable) {
        for (const QByteArray &time : timeCandidates(body)) {
            if (expectedBody(params, time) == body)
                return 0;
        }
        fail("body differs from the independent rebuild", body);
    }

    Fields fields;
    for (const QByteArray &field : body.split('&')) {
        const int equals = field.indexOf('=');
        if (equals < 0)
            fail("field without '='", body);
        fields.append({QString::fromUtf8(field.left(equals)), field.mid(equals + 1)});
    }
    QMap<QString, QString> decoded;
    for (int i = 0; i < fields.size(); ++i) {
        if (i > 0 && !codeUnitLess(fields[i - 1].first, fields[i].first))
            fail("keys not in ascending code-unit order", body);
        decoded.insert(fields[i].first, formDecode(fields[i].second));
    }

    const QStringList reserved = {QStringLiteral("restauth"), QStringLiteral("resttime"),
                                  QStringLiteral("sessionkey")};
    int expectedFields = params.size();
    for (const QString &key : reserved)
        expectedFields += params.contains(key) ? 0 : 1;
    if (fields.size() != expectedFields)
        fail("field count differs from the map", body);
    for (auto it = params.cbegin(); it != params.cend(); ++it) {
        if (!reserved.contains(it.key()) && decoded.value(it.key()) != it.value())
            fail("a value did not survive the round trip", body);
    }
    if (decoded.value(QStringLiteral("sessionkey")) != QLatin1String("deskagent"))
        fail("sessionkey is not the client's", body);

    QByteArray digest;
    const QByteArray expected =
        expectedBody(params, decoded.value(QStringLiteral("resttime")).toLatin1(), &digest);
    if (decoded.value(QStringLiteral("restauth")).toLatin1() != digest)
        fail("restauth is not the MD5 of the signing string", body);
    if (expected != body)
        fail("body differs from the independent rebuild", body);
    return 0;
}
