#include <gtest/gtest.h>

#include "PngBytes.h"
#include "PngHeader.h"
#include "ServiceOptions.h"
#include "SharePage.h"

namespace share::test {
namespace {

TEST(PngHeaderTest, ReadsTheSizeOfIntactHeadersOnly) {
    const auto size = readPngHeader(pngBytes(800, 533));
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, 800);
    EXPECT_EQ(size->height, 533);
    EXPECT_TRUE(readPngHeader(pngBytes(1, 1, 16, 2)));
    EXPECT_TRUE(readPngHeader(pngBytes(3, 2, 1, 0)));

    std::string badSignature = pngBytes(10, 10);
    badSignature[1] = 'Q';
    std::string badLength = pngBytes(10, 10);
    badLength[11] = 14;
    std::string badType = pngBytes(10, 10);
    badType[12] = 'i';
    std::string badChecksum = pngBytes(10, 10);
    badChecksum[30] ^= 0x40;
    std::string badCompression = pngBytes(10, 10);
    badCompression[26] = 1;
    struct Case {
        const char* name;
        std::string data;
    };
    for (const Case& c :
         {Case{"empty", ""}, Case{"signature only", std::string("\x89PNG\r\n\x1a\n", 8)},
          Case{"signature", badSignature}, Case{"chunk length", badLength},
          Case{"first chunk not IHDR", badType}, Case{"checksum", badChecksum},
          Case{"compression method", badCompression}, Case{"zero width", pngBytes(0, 10)},
          Case{"zero height", pngBytes(10, 0)}, Case{"huge width", pngBytes(0x80000000u, 10)},
          Case{"depth 16 with a palette", pngBytes(10, 10, 16, 3)},
          Case{"depth 4 in colour", pngBytes(10, 10, 4, 2)},
          Case{"colour type 5", pngBytes(10, 10, 8, 5)},
          Case{"no closing chunk", pngBytes(10, 10).substr(0, 60)}}) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(readPngHeader(c.data));
    }
}

TEST(SharePageTest, ReadsWellFormedRecordElementsAndStopsAtTheFirstBrokenOne) {
    using Elements = std::vector<std::pair<std::string, std::string>>;
    struct Case {
        const char* record;
        Elements elements;
    };
    for (const Case& c : {
             Case{"", {}},
             Case{"<LSI>12.5</LSI><FIL></FIL><COL>B&W</COL>",
                  {{"LSI", "12.5"}, {"FIL", ""}, {"COL", "B&W"}}},
             Case{"<COL>a<b</COL><VIG>20</VIG>", {{"COL", "a<b"}, {"VIG", "20"}}},
             Case{"<LSI>1</LSI>junk<DSI>2</DSI>", {{"LSI", "1"}}},
             Case{"<LSI>1</DSI>", {}},
             Case{"<lsi>1</lsi>", {}},
             Case{"<LSIX>1</LSIX>", {}},
             Case{"<LSI>1", {}},
             Case{"<LS", {}},
         }) {
        SCOPED_TRACE(c.record);
        EXPECT_EQ(readAdjustmentRecord(c.record), c.elements);
    }
}

TEST(SharePageTest, EscapesMarkupCharactersAndListsOnlyGivenAdjustments) {
    EXPECT_EQ(escapeHtml("a<b>&\"c'"), "a&lt;b&gt;&amp;&quot;c&#39;");
    EXPECT_EQ(escapeHtml(std::string("x\0y", 3)), "x&#xFFFD;y");
    PictureRecord record{"Abc12345", "", "<FIL></FIL><COL>Sepia</COL><EXP>120</EXP>", "", 0, 8, 6};
    const std::string page = sharePage(record);
    EXPECT_NE(page.find("<dt>Tone</dt><dd>Sepia</dd>"), std::string::npos);
    EXPECT_NE(page.find("<dt>Exposure</dt><dd>120</dd>"), std::string::npos);
    EXPECT_EQ(page.find("Colour filter"), std::string::npos) << "an empty filter is not listed";
    EXPECT_NE(page.find("width=\"8\" height=\"6\""), std::string::npos);
    record.adjustments.clear();
    EXPECT_EQ(sharePage(record).find("Adjustments"), std::string::npos);
}

TEST(ServiceOptionsTest, ParsesListenDataAndPublicUrl) {
    struct Case {
        std::vector<std::string> args;
        std::string host;
        int port;
        std::string publicUrl;
    };
    for (const Case& c : {
             Case{{}, "127.0.0.1", 8088, "http://127.0.0.1:8088"},
             Case{{"--listen", "0.0.0.0:9000"}, "0.0.0.0", 9000, "http://0.0.0.0:9000"},
             Case{{"--listen", "[::1]:81"}, "::1", 81, "http://[::1]:81"},
             Case{{"--public-url", "https://share.example/"},
                  "127.0.0.1",
                  8088,
                  "https://share.example/"},
         }) {
        std::string error;
        const auto options = parseServiceOptions(c.args, &error);
        ASSERT_TRUE(options) << error;
        EXPECT_EQ(options->host, c.host);
        EXPECT_EQ(options->port, c.port);
        EXPECT_EQ(options->publicUrl, c.publicUrl);
    }
    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--listen"},
                                                {"--listen", "8088"},
                                                {"--listen", "host:0"},
                                                {"--listen", "host:65536"},
                                                {"--listen", "host:80x"},
                                                {"--listen", "::1:80"},
                                                {"--public-url", "ftp://x"},
                                                {"--data", ""},
                                                {"--port", "1"}}) {
        std::string error;
        EXPECT_FALSE(parseServiceOptions(bad, &error)) << bad.back();
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
}  // namespace share::test
