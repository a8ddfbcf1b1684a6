// Throughput of the ISO-2022-JP encoder and decoder against glibc's iconv,
// measured in the same run on the same text, UTF-16 on both sides: iconv
// converts "UTF-16LE" <-> "ISO-2022-JP" into a QString or QByteArray as ours
// does. Runs alternate between ours and iconv's; the medians are printed.
// Every output must equal iconv's byte for byte, else the exit code is 1.

#include "JisConvert.h"

#include <QByteArray>
#include <QString>

#include <QSysInfo>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iconv.h>
#include <vector>

namespace {

constexpr int kRuns = 21;
// Size of the input text in UTF-16.
constexpr qsizetype kTargetUtf16Bytes = 1024 * 1024;

// Characters whose JIS X 0208 form is the same for code page 932 and for
// iconv's ISO-2022-JP, so both sides convert the same text. No half-width
// kana: our encoder widens them, iconv refuses them.
const QString kKanji = QStringLiteral(
    "日本語漢字営業部山田田中電話会議連絡確認予定来週今日明日午前午後社長課長部長担当"
    "伝言折返至急用件内容時間場所資料送付受領報告相談依頼検討対応完了変更中止延期");
const QString kHiragana = QStringLiteral(
    "あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほまみむめもやゆよらりるれろわをん"
    "がぎぐげござじずぜぞだぢづでどばびぶべぼぱぴぷぺぽっゃゅょ");
const QString kKatakana = QStringLiteral(
    "アイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロワヲン"
    "ガギグゲゴザジズゼゾダヂヅデドバビブベボパピプペポッャュョー");
const QString kAscii =
    QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .,:;/-()@");
const QString kPunctuation = QStringLiteral("、。「」・！？（）");

class Lcg
{
public:
    quint32 next()
    {
        m_state = m_state * 1664525u + 1013904223u;
        return m_state >> 8;
    }
    int below(int n) { return int(next() % quint32(n)); }

private:
    quint32 m_state = 12345;
};

QString makeText()
{
    Lcg rng;
    QString text;
    int lineLength = 0;
    while (text.size() * 2 < kTargetUtf16Bytes) {
        for (int word = 0; word < 4096; ++word) {
            const QString *pool = nullptr;
            switch (rng.below(10)) {
            case 0:
            case 1:
            case 2:
                pool = &kKanji;
                break;
            case 3:
            case 4:
            case 5:
                pool = &kHiragana;
                break;
            case 6:
            case 7:
                pool = &kKatakana;
                break;
            case 8:
                pool = &kAscii;
                break;
            default:
                pool = &kPunctuation;
                break;
            }
            const int length = 1 + rng.below(pool == &kPunctuation ? 1 : 8);
            for (int i = 0; i < length; ++i)
                text += pool->at(rng.below(int(pool->size())));
            lineLength += length;
            if (lineLength > 40) {
                text += QStringLiteral("\r\n");
                lineLength = 0;
            }
        }
    }
    // End on a two-byte character: the decoder drops a final single byte.
    text += kKanji.at(0);
    return text;
}

double secondsOf(const auto &run)
{
    const auto start = std::chrono::steady_clock::now();
    run();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// One whole conversion into a buffer of `capacity` bytes, which is then cut to
// what iconv wrote; false on any iconv error.
bool iconvConvert(iconv_t cd, const char *in, size_t inLeft, char *out, size_t capacity,
                  size_t &written)
{
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char *inPtr = const_cast<char *>(in);
    char *outPtr = out;
    size_t outLeft = capacity;
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == size_t(-1) ||
        iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == size_t(-1)) {
        std::perror("iconv");
        return false;
    }
    written = capacity - outLeft;
    return true;
}

// UTF-16 text to ISO-2022-JP, with the same output bound as SjisToJis.
QByteArray iconvEncode(iconv_t cd, const QString &text)
{
    QByteArray out(text.size() * 5 + 3, Qt::Uninitialized);
    size_t written = 0;
    if (!iconvConvert(cd, reinterpret_cast<const char *>(text.utf16()), size_t(text.size()) * 2,
                      out.data(), size_t(out.size()), written))
        return QByteArray();
    out.resize(qsizetype(written));
    return out;
}

// ISO-2022-JP to UTF-16 text, with the same output bound as JisBytesToText.
QString iconvDecode(iconv_t cd, const QByteArray &jis)
{
    QString out(jis.size(), Qt::Uninitialized);
    size_t written = 0;
    if (!iconvConvert(cd, jis.constData(), size_t(jis.size()), reinterpret_cast<char *>(out.data()),
                      size_t(out.size()) * 2, written))
        return QString();
    out.resize(qsizetype(written / 2));
    return out;
}

double mbPerSecond(qsizetype bytes, double seconds)
{
    return double(bytes) / (1024.0 * 1024.0) / seconds;
}

} // namespace

int main()
{
    static_assert(kRuns >= 5 && kRuns % 2 == 1);
    if (QSysInfo::ByteOrder != QSysInfo::LittleEndian) {
        std::printf("FAIL: QString holds UTF-16LE only on a little-endian machine\n");
        return 1;
    }
    // The first call builds the code page tables.
    const auto start = std::chrono::steady_clock::now();
    JisBytesToText(SjisToJis(QStringLiteral("漢")));
    const std::chrono::duration<double, std::milli> tableTime =
        std::chrono::steady_clock::now() - start;
    std::printf("Measures the ISO-2022-JP codec of the shared library in this harness, not "
                "the desk.\n");
    std::printf("tables built in %.1f ms\n", tableTime.count());

    iconv_t toJis = iconv_open("ISO-2022-JP", "UTF-16LE");
    iconv_t fromJis = iconv_open("UTF-16LE", "ISO-2022-JP");
    if (toJis == reinterpret_cast<iconv_t>(-1) || fromJis == reinterpret_cast<iconv_t>(-1)) {
        std::perror("iconv_open");
        return 1;
    }

    const QString text = makeText();
    // The reference outputs: iconv's, from the same UTF-16 text.
    const QByteArray refJis = iconvEncode(toJis, text);
    const QString refText = iconvDecode(fromJis, refJis);
    bool ok = true;
    if (refJis.isEmpty() || refText != text) {
        std::printf("FAIL: iconv's round trip differs from the input\n");
        ok = false;
    }
    std::printf("text: %lld UTF-16 units (%lld bytes), %lld ISO-2022-JP bytes\n",
                static_cast<long long>(text.size()), static_cast<long long>(text.size() * 2),
                static_cast<long long>(refJis.size()));

    int encodeDiffers = 0;
    int decodeDiffers = 0;
    const auto sameBytes = [](const QString &a, const QString &b) {
        return a.size() == b.size() && std::memcmp(a.utf16(), b.utf16(), size_t(a.size()) * 2) == 0;
    };
    std::vector<double> oursEncode, iconvEncodeT, oursDecode, iconvDecodeT;
    QByteArray jis;
    QString decoded;
    // Ours and iconv's alternate, so drifts in machine load reach both sides.
    for (int run = 0; run < kRuns; ++run) {
        oursEncode.push_back(secondsOf([&] { jis = SjisToJis(text); }));
        encodeDiffers += jis != refJis;
        iconvEncodeT.push_back(secondsOf([&] { jis = iconvEncode(toJis, text); }));
        encodeDiffers += jis != refJis;
        oursDecode.push_back(secondsOf([&] { decoded = JisBytesToText(refJis); }));
        decodeDiffers += !sameBytes(decoded, refText);
        iconvDecodeT.push_back(secondsOf([&] { decoded = iconvDecode(fromJis, refJis); }));
        decodeDiffers += !sameBytes(decoded, refText);
    }
    iconv_close(toJis);
    iconv_close(fromJis);

    const double oe = median(oursEncode), ie = median(iconvEncodeT);
    const double od = median(oursDecode), id = median(iconvDecodeT);
    // Throughput in ISO-2022-JP bytes, the one size both directions share.
    const qsizetype n = refJis.size();
    std::printf("median of %d alternating runs, MB/s of ISO-2022-JP:\n", kRuns);
    std::printf("  UTF-16 -> ISO-2022-JP   ours %8.1f   iconv %8.1f   identical to iconv's: %s\n",
                mbPerSecond(n, oe), mbPerSecond(n, ie), encodeDiffers ? "no" : "yes");
    std::printf("  ISO-2022-JP -> UTF-16   ours %8.1f   iconv %8.1f   identical to iconv's: %s\n",
                mbPerSecond(n, od), mbPerSecond(n, id), decodeDiffers ? "no" : "yes");
    if (encodeDiffers || decodeDiffers)
        ok = false;
    std::printf("ratio (iconv time / our time): encode %.2f, decode %.2f\n", ie / oe, id / od);
    return ok ? 0 : 1;
}
