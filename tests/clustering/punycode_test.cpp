#include "clustering/punycode.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace kelvara;

namespace {

struct Sample {
    const char* name;
    const char* encoded;
    std::vector<char32_t> decoded;
};

QString fromCodePoints(const std::vector<char32_t>& cps) {
    return QString::fromUcs4(cps.data(), qsizetype(cps.size()));
}

// The sample strings of the Punycode standard (section 7.1). The encoded forms carry the
// mixed-case annotation of the original letters; the decoder ignores it, so the decoded text is
// the code points as listed, with basic letters in their encoded case.
const std::vector<Sample> kSamples = {
    {"A_Arabic",
     "egbpdaj6bu4bxfgehfvwxn",
     {0x0644, 0x064A, 0x0647, 0x0645, 0x0627, 0x0628, 0x062A, 0x0643, 0x0644, 0x0645, 0x0648,
      0x0634, 0x0639, 0x0631, 0x0628, 0x064A, 0x061F}},
    {"B_ChineseSimplified",
     "ihqwcrb4cv8a8dqg056pqjye",
     {0x4ED6, 0x4EEC, 0x4E3A, 0x4EC0, 0x4E48, 0x4E0D, 0x8BF4, 0x4E2D, 0x6587}},
    {"C_ChineseTraditional",
     "ihqwctvzc91f659drss3x8bo0yb",
     {0x4ED6, 0x5011, 0x7232, 0x4EC0, 0x9EBD, 0x4E0D, 0x8AAA, 0x4E2D, 0x6587}},
    {"D_Czech",
     "Proprostnemluvesky-uyb24dma41a",
     {0x0050, 0x0072, 0x006F, 0x010D, 0x0070, 0x0072, 0x006F, 0x0073, 0x0074, 0x011B, 0x006E,
      0x0065, 0x006D, 0x006C, 0x0075, 0x0076, 0x00ED, 0x010D, 0x0065, 0x0073, 0x006B, 0x0079}},
    {"E_Hebrew",
     "4dbcagdahymbxekheh6e0a7fei0b",
     {0x05DC, 0x05DE, 0x05D4, 0x05D4, 0x05DD, 0x05E4, 0x05E9, 0x05D5, 0x05D8, 0x05DC, 0x05D0,
      0x05DE, 0x05D3, 0x05D1, 0x05E8, 0x05D9, 0x05DD, 0x05E2, 0x05D1, 0x05E8, 0x05D9, 0x05EA}},
    {"F_Hindi",
     "i1baa7eci9glrd9b2ae1bj0hfcgg6iyaf8o0a1dig0cd",
     {0x092F, 0x0939, 0x0932, 0x094B, 0x0917, 0x0939, 0x093F, 0x0928, 0x094D, 0x0926,
      0x0940, 0x0915, 0x094D, 0x092F, 0x094B, 0x0902, 0x0928, 0x0939, 0x0940, 0x0902,
      0x092C, 0x094B, 0x0932, 0x0938, 0x0915, 0x0924, 0x0947, 0x0939, 0x0948, 0x0902}},
    {"G_Japanese",
     "n8jok5ay5dzabd5bym9f0cm5685rrjetr6pdxa",
     {0x306A, 0x305C, 0x307F, 0x3093, 0x306A, 0x65E5, 0x672C, 0x8A9E, 0x3092, 0x8A71, 0x3057,
      0x3066, 0x304F, 0x308C, 0x306A, 0x3044, 0x306E, 0x304B}},
    {"H_Korean",
     "989aomsvi5e83db1d2a355cv1e0vak1dwrv93d5xbh15a0dt30a5jpsd879ccm6fea98c",
     {0xC138, 0xACC4, 0xC758, 0xBAA8, 0xB4E0, 0xC0AC, 0xB78C, 0xB4E4,
      0xC774, 0xD55C, 0xAD6D, 0xC5B4, 0xB97C, 0xC774, 0xD574, 0xD55C,
      0xB2E4, 0xBA74, 0xC5BC, 0xB9C8, 0xB098, 0xC88B, 0xC744, 0xAE4C}},
    {"I_Russian",
     "b1abfaaepdrnnbgefbaDotcwatmq2g4l",
     {0x043F, 0x043E, 0x0447, 0x0435, 0x043C, 0x0443, 0x0436, 0x0435, 0x043E, 0x043D,
      0x0438, 0x043D, 0x0435, 0x0433, 0x043E, 0x0432, 0x043E, 0x0440, 0x044F, 0x0442,
      0x043F, 0x043E, 0x0440, 0x0443, 0x0441, 0x0441, 0x043A, 0x0438}},
    {"J_Spanish",
     "PorqunopuedensimplementehablarenEspaol-fmd56a",
     {0x0050, 0x006F, 0x0072, 0x0071, 0x0075, 0x00E9, 0x006E, 0x006F, 0x0070, 0x0075,
      0x0065, 0x0064, 0x0065, 0x006E, 0x0073, 0x0069, 0x006D, 0x0070, 0x006C, 0x0065,
      0x006D, 0x0065, 0x006E, 0x0074, 0x0065, 0x0068, 0x0061, 0x0062, 0x006C, 0x0061,
      0x0072, 0x0065, 0x006E, 0x0045, 0x0073, 0x0070, 0x0061, 0x00F1, 0x006F, 0x006C}},
    {"K_Vietnamese",
     "TisaohkhngthchnitingVit-kjcr8268qyxafd2f1b9g",
     {0x0054, 0x1EA1, 0x0069, 0x0073, 0x0061, 0x006F, 0x0068, 0x1ECD, 0x006B, 0x0068, 0x00F4,
      0x006E, 0x0067, 0x0074, 0x0068, 0x1EC3, 0x0063, 0x0068, 0x1EC9, 0x006E, 0x00F3, 0x0069,
      0x0074, 0x0069, 0x1EBF, 0x006E, 0x0067, 0x0056, 0x0069, 0x1EC7, 0x0074}},
    {"L_3nenBgumi",
     "3B-ww4c5e180e575a65lsy2b",
     {0x0033, 0x5E74, 0x0042, 0x7D44, 0x91D1, 0x516B, 0x5148, 0x751F}},
    {"M_SuperMonkeys",
     "-with-SUPER-MONKEYS-pc58ag80a8qai00g7n9n",
     {0x5B89, 0x5BA4, 0x5948, 0x7F8E, 0x6075, 0x002D, 0x0077, 0x0069,
      0x0074, 0x0068, 0x002D, 0x0053, 0x0055, 0x0050, 0x0045, 0x0052,
      0x002D, 0x004D, 0x004F, 0x004E, 0x004B, 0x0045, 0x0059, 0x0053}},
    {"N_HelloAnotherWay",
     "Hello-Another-Way--fc4qua05auwb3674vfr0b",
     {0x0048, 0x0065, 0x006C, 0x006C, 0x006F, 0x002D, 0x0041, 0x006E, 0x006F,
      0x0074, 0x0068, 0x0065, 0x0072, 0x002D, 0x0057, 0x0061, 0x0079, 0x002D,
      0x305D, 0x308C, 0x305E, 0x308C, 0x306E, 0x5834, 0x6240}},
    {"O_Hitotsu",
     "2-u9tlzr9756bt3uc0v",
     {0x3072, 0x3068, 0x3064, 0x5C4B, 0x6839, 0x306E, 0x4E0B, 0x0032}},
    {"P_MajiDeKoi",
     "MajiKoi5-783gue6qz075azm5e",
     {0x004D, 0x0061, 0x006A, 0x0069, 0x3067, 0x004B, 0x006F, 0x0069, 0x3059, 0x308B, 0x0035,
      0x79D2, 0x524D}},
    {"Q_PafiiDeRunba",
     "de-jg4avhby1noc0d",
     {0x30D1, 0x30D5, 0x30A3, 0x30FC, 0x0064, 0x0065, 0x30EB, 0x30F3, 0x30D0}},
    {"R_SonoSupiido", "d9juau41awczczp", {0x305D, 0x306E, 0x30B9, 0x30D4, 0x30FC, 0x30C9, 0x3067}},
    {"S_Dollar",
     "-> $1.00 <--",
     {0x002D, 0x003E, 0x0020, 0x0024, 0x0031, 0x002E, 0x0030, 0x0030, 0x0020, 0x003C, 0x002D}},
    // Beyond the first plane: surrogate pairs, two units each.
    {"AstralPileOfPoo", "ls8h", {0x1F4A9}},
    {"AstralMixed", "ab-qg4n4589e", {0x61, 0x1F600, 0x62, 0x10000}},
};

void PrintTo(const Sample& s, std::ostream* os) {
    *os << s.name;
}

class PunycodeSamples : public ::testing::TestWithParam<Sample> {};

TEST_P(PunycodeSamples, DecodeAndMeasure) {
    const Sample& s = GetParam();
    const QString want = fromCodePoints(s.decoded);
    qsizetype measured = -1;
    ASSERT_EQ(PunycodeDecode(s.encoded, nullptr, 0, &measured), pcSuccess);
    EXPECT_EQ(measured, want.size());

    std::vector<char16_t> buffer(size_t(want.size()) + 4, u'#');
    qsizetype written = -1;
    ASSERT_EQ(PunycodeDecode(s.encoded, buffer.data(), want.size(), &written), pcSuccess);
    EXPECT_EQ(QString::fromUtf16(buffer.data(), written), want);
    EXPECT_EQ(buffer[size_t(want.size())], u'#');  // nothing past the capacity

    // One unit short is too big an output, whatever the last code point's size.
    EXPECT_EQ(PunycodeDecode(s.encoded, buffer.data(), want.size() - 1, &written), pcBigOutput);
}

INSTANTIATE_TEST_SUITE_P(Standard, PunycodeSamples, ::testing::ValuesIn(kSamples),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PunycodeDecode, ResultCodes) {
    struct Case {
        const char* input;
        PunycodeResult want;
    };
    const Case cases[] = {
        {"", pcSuccess},
        {"abc-", pcSuccess},      // only a basic part
        {"ab/c", pcBadInput},     // "/" is no digit
        {"abc-d!f", pcBadInput},  // nor is "!"
        {"a\x80-b", pcBadInput},  // a basic-part byte of 128 or more
        {"-", pcBadInput},        // a delimiter at 0 starts no basic part: "-" is a digit
        {"b", pcBadInput},        // ends inside a number
        {"99999999999999999999", pcOverflow},
        {"ib9b", pcBadInput},      // U+D800, a surrogate
        {"a-qo7g", pcBadInput},    // U+DFFF after "a"
        {"en32g", pcBadInput},     // U+110000, past the last code point
        {"8016146o", pcBadInput},  // U+7FFFFFFF
    };
    for (const Case& c : cases) {
        qsizetype n = 0;
        EXPECT_EQ(PunycodeDecode(c.input, nullptr, 0, &n), c.want) << c.input;
    }
    // The basic part alone too long for the buffer.
    char16_t small[1];
    qsizetype n = 0;
    EXPECT_EQ(PunycodeDecode("3B-ww4c5e180e575a65lsy2b", small, 1, &n), pcBigOutput);
}

TEST(PunycodeToUnicode, Labels) {
    const AnsiCodec cp1251("windows-1251");
    const std::pair<QByteArray, QString> cases[] = {
        {"xn--e1afmkfd.xn--p1ai", u"пример.рф"_qs},
        {"XN--e1afmkfd.Xn--p1ai", u"пример.рф"_qs},
        {"www.xn--e1afmkfd.ru", u"www.пример.ru"_qs},
        {"xn--", u"xn--"_qs},
        {"xn--.ru", u"xn--.ru"_qs},
        {"xn--ab/c.ru", u"xn--ab/c.ru"_qs},
        {"xn--abc-d!f", u"xn--abc-d!f"_qs},
        {"xn--99999999999999999999", u"xn--99999999999999999999"_qs},
        {"xn--ib9b", u"xn--ib9b"_qs},
        {"xn_-e1afmkfd", u"xn_-e1afmkfd"_qs},
        {"site.ru.", u"site.ru."_qs},
        {"", u""_qs},
        {"..", u".."_qs},
        {".xn--p1ai.", u".рф."_qs},
        {"xn--ls8h.la", u"\U0001F4A9.la"_qs},
        // 8-bit characters of the code page: "пример" in windows-1251.
        {"\xEF\xF0\xE8\xEC\xE5\xF0.xn--p1ai", u"пример.рф"_qs},
    };
    for (const auto& [in, want] : cases) {
        EXPECT_EQ(PunycodeToUnicode(in, cp1251), want) << in.toStdString();
        EXPECT_EQ(PunycodeToUnicode(cp1251.decode(in)), want) << in.toStdString();
    }
    // A character no code page holds stays as it is in the UTF-16 form.
    EXPECT_EQ(PunycodeToUnicode(u"日本.xn--p1ai"), u"日本.рф"_qs);
}

TEST(PunycodeToUnicode, AbsurdlyLongLabelsStayAsTheyAre) {
    // A valid encoding of 5,000 letters: decodable, but no host has such a label.
    QByteArray label = "xn--" + QByteArray(5000, 'a') + "-";
    EXPECT_EQ(PunycodeToUnicode(label, AnsiCodec("windows-1252")), QString::fromLatin1(label));
}

// Random labels, many of them almost Punycode: every result keeps the dots where they were and
// every label is either decoded (an "xn--" label) or exactly as it was.
TEST(PunycodeToUnicode, MalformedLabelsComeBackUnchanged) {
    std::mt19937 rng(20240611);
    const char alphabet[] = "xXnN-aZz09/._!\x80\xff";
    const AnsiCodec codec("windows-1252");
    for (int round = 0; round < 5000; ++round) {
        QByteArray in;
        const int n = int(rng() % 24);
        if (rng() % 2) {
            in += "xn--";
        }
        for (int i = 0; i < n; ++i) {
            in += alphabet[rng() % (sizeof alphabet - 1)];
        }
        const QString out = PunycodeToUnicode(in, codec);
        ASSERT_EQ(out.count(u'.'), in.count('.')) << in.toStdString();
        if (!in.isEmpty()) {
            ASSERT_FALSE(out.isEmpty());
        }
        const QList<QByteArray> inLabels = in.split('.');
        const QStringList outLabels = out.split(u'.');
        ASSERT_EQ(inLabels.size(), outLabels.size());
        for (qsizetype i = 0; i < inLabels.size(); ++i) {
            if (outLabels[i] != codec.decode(inLabels[i])) {
                ASSERT_TRUE(inLabels[i].toLower().startsWith("xn--")) << in.toStdString();
            }
        }
    }
}

}  // namespace
