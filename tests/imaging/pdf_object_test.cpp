// Dictionary entries: their written forms, key paths, replacement in place
// and the stream rules of an object.
#include <gtest/gtest.h>

#include "imaging/pdf/pdf_object.h"

namespace kovran::imaging::pdf {
namespace {

std::string Entries(const PdfDictionary& d) {
    std::string out;
    d.WriteEntries(out, 1);
    return out;
}

std::string Whole(PdfObject& o) {
    std::string out = SerializeObjectHead(o);  // trims the stream text first
    out += ObjectStreamData(o);
    return out + SerializeObjectTail(o);
}

TEST(PdfDictionaryTest, EachKindHasItsWrittenForm) {
    PdfDictionary d;
    d.SetLiteral("Title", "a(b)c\\d");
    d.SetInteger("Count", -1);
    d.SetName("Type", "Page");
    d.SetRaw("MediaBox", "[0 0 036 018]");
    d.SetReference("Parent", 2);
    d.AddReference("Kids", 4);
    d.AddReference("Kids", 7);
    EXPECT_EQ(Entries(d),
              "\t/Title (a\\(b\\)c\\\\d)\r\n\t/Count -1\r\n\t/Type /Page\r\n"
              "\t/MediaBox [0 0 036 018]\r\n\t/Parent 2 0 R\r\n\t/Kids [4 0 R 7 0 R]\r\n");
}

TEST(PdfDictionaryTest, KeyPathsNestAndKeepTheirPlace) {
    PdfDictionary d;
    d.SetName("Type", "XObject");
    d.SetInteger("DecodeParms/K", -1);
    d.SetInteger("Width", 10);
    d.SetInteger("DecodeParms/Columns", 10);
    d.SetReference("Resources/XObject/Im_1", 6);
    d.SetReference("Resources/XObject/Im_2", 9);
    d.SetInteger("Width", 20);  // replaced where it stands
    d.SetInteger("DecodeParms/K", 0);
    EXPECT_EQ(Entries(d),
              "\t/Type /XObject\r\n"
              "\t/DecodeParms <<\r\n\t\t/K 0\r\n\t\t/Columns 10\r\n\t>>\r\n"
              "\t/Width 20\r\n"
              "\t/Resources <<\r\n\t\t/XObject <<\r\n\t\t\t/Im_1 6 0 R\r\n\t\t\t/Im_2 9 0 R\r\n"
              "\t\t>>\r\n\t>>\r\n");
    EXPECT_EQ(d.Size(), 4u);
    EXPECT_EQ(d.ValueText("Width"), "20");
    EXPECT_EQ(d.ValueText("Missing"), "");
}

TEST(PdfObjectTest, StreamRules) {
    PdfObject dictOnly(1);
    dictOnly.dictionary.SetName("Type", "Catalog");
    EXPECT_EQ(Whole(dictOnly), "1 0 obj\r\n<<\r\n\t/Type /Catalog\r\n>>\r\nendobj\r\n");

    // Trailing line ends go; Length counts what is left and comes last.
    PdfObject content(5);
    content.contentStream = true;
    content.dictionary.SetName("Type", "X");
    content.streamText = "q\nQ\n\n\r\n";
    EXPECT_EQ(Whole(content),
              "5 0 obj\r\n<<\r\n\t/Type /X\r\n\t/Length "
              "3\r\n>>\r\nstream\r\nq\nQ\r\nendstream\r\nendobj\r\n");

    PdfObject empty(6);
    empty.contentStream = true;
    EXPECT_EQ(Whole(empty),
              "6 0 obj\r\n<<\r\n\t/Length 1\r\n>>\r\nstream\r\n \r\nendstream\r\nendobj\r\n");

    PdfObject image(7);
    image.streamBytes = {0x00, 0x0D, 0x0A, 0xFF};
    using namespace std::string_literals;
    EXPECT_EQ(
        Whole(image),
        "7 0 obj\r\n<<\r\n\t/Length 4\r\n>>\r\nstream\r\n\x00\r\n\xFF\r\nendstream\r\nendobj\r\n"s);
}

TEST(PdfObjectTest, NamesAndStringsStayClosed) {
    EXPECT_EQ(LiteralString("a\r\nb"), "(a\\r\\nb)");
    EXPECT_EQ(EscapeName("plain_name.tif"), "plain_name.tif");
    EXPECT_EQ(EscapeName("a b/c(d)#\x01\xE9"), "a#20b#2Fc#28d#29#23#01#E9");
}

}  // namespace
}  // namespace kovran::imaging::pdf
