// Throughput of the ISO-2022-JP encoder and decoder against glibc's iconv,
// measured in the same run on the same text.

#include "JisConvert.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <iconv.h>

namespace {

constexpr int kRepeats = 9;
constexpr qsizetype kTargetUtf8Bytes = 1024 * 1024;

// Characters whose JIS X 0208 form is the same for code page 932 and for
// iconv's ISO-2022-JP, so both sides convert the same text.
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
    while (text.toUtf8().size() < kTargetUtf8Bytes) {
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

double bestSeconds(const std::function<void()> &run)
{
    double best = 1e9;
    for (int i = 0; i < kRepeats; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count());
    }
    return best;
}

QByteArray iconvConvert(iconv_t cd, const QByteArray &in)
{
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    QByteArray out(in.size() * 4 + 16, Qt::Uninitialized);
    char *inPtr = const_cast<char *>(in.constData());
    size_t inLeft = size_t(in.size());
    char *outPtr = out.data();
    size_t outLeft = size_t(out.size());
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == size_t(-1) ||
        iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == size_t(-1)) {
        std::perror("iconv");
        return QByteArray();
    }
    out.resize(outPtr - out.constData());
    return out;
}

double mbPerSecond(qsizetype bytes, double seconds)
{
    return double(bytes) / (1024.0 * 1024.0) / seconds;
}

} // namespace

int main()
{
    // The first call builds the code page tables.
    const auto start = std::chrono::steady_clock::now();
    JisBytesToText(SjisToJis(QStringLiteral("漢")));
    const std::chrono::duration<double, std::milli> tableTime =
        std::chrono::steady_clock::now() - start;
    std::printf("tables built in %.1f ms\n", tableTime.count());

    const QString text = makeText();
    const QByteArray utf8 = text.toUtf8();
    const QByteArray jis = SjisToJis(text);

    iconv_t toJis = iconv_open("ISO-2022-JP", "UTF-8");
    iconv_t fromJis = iconv_open("UTF-8", "ISO-2022-JP");
    if (toJis == reinterpret_cast<iconv_t>(-1) || fromJis == reinterpret_cast<iconv_t>(-1)) {
        std::perror("iconv_open");
        return 1;
    }

    bool ok = true;
    if (JisBytesToText(jis) != text) {
        std::printf("FAIL: our round trip differs from the input\n");
        ok = false;
    }
    const QByteArray iconvJis = iconvConvert(toJis, utf8);
    if (iconvConvert(fromJis, iconvJis) != utf8) {
        std::printf("FAIL: iconv round trip differs from the input\n");
        ok = false;
    }
    std::printf("text: %lld characters, %lld UTF-8 bytes, %lld ISO-2022-JP bytes\n",
                static_cast<long long>(text.size()), static_cast<long long>(utf8.size()),
                static_cast<long long>(jis.size()));
    std::printf("ISO-2022-JP bytes identical to iconv's: %s\n", jis == iconvJis ? "yes" : "no");

    qsizetype sink = 0;
    const double oursEncode = bestSeconds([&] { sink += SjisToJis(text).size(); });
    const double oursDecode = bestSeconds([&] { sink += JisBytesToText(jis).size(); });
    const double iconvEncode = bestSeconds([&] { sink += iconvConvert(toJis, utf8).size(); });
    const double iconvDecode = bestSeconds([&] { sink += iconvConvert(fromJis, iconvJis).size(); });

    // Throughput in ISO-2022-JP bytes, the one size both sides share.
    const qsizetype n = jis.size();
    std::printf("best of %d runs, MB/s of ISO-2022-JP:\n", kRepeats);
    std::printf("  text -> ISO-2022-JP   ours %8.1f   iconv %8.1f   ratio %.2f\n",
                mbPerSecond(n, oursEncode), mbPerSecond(n, iconvEncode), iconvEncode / oursEncode);
    std::printf("  ISO-2022-JP -> text   ours %8.1f   iconv %8.1f   ratio %.2f\n",
                mbPerSecond(n, oursDecode), mbPerSecond(n, iconvDecode), iconvDecode / oursDecode);
    std::printf("(checksum %lld)\n", static_cast<long long>(sink));

    iconv_close(toJis);
    iconv_close(fromJis);
    return ok ? 0 : 1;
}
