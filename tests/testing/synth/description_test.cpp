#include "testing/synth/description.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "testing/synth/document_renderer.h"

namespace kovran::synth {
namespace {

using nlohmann::json;

json Minimal() {
    return json::parse(R"({
      "name": "t",
      "paper": {"width_mm": 120, "height_mm": 60},
      "front": {"elements": [
        {"type": "text", "text": "HELLO", "font": "Nimbus Sans", "size_pt": 10, "x_mm": 10, "y_mm": 10}
      ]},
      "scan": {"dpi": 100}
    })");
}

// Parses and lays out; returns the error as "field|reason", or "" when the
// description is accepted.
std::string Refusal(const json& j) {
    try {
        SynthFontLibrary fonts;
        DocumentRenderer renderer(fonts);
        renderer.Render(ParseDescription(j));
        return "";
    } catch (const DescriptionError& e) {
        return e.field + "|" + e.reason;
    }
}

TEST(Description, RefusesUnknownFieldsWithTheirPath) {
    EXPECT_EQ(Refusal(Minimal()), "");
    json j = Minimal();
    j["colour_mode"] = "grey";
    EXPECT_EQ(Refusal(j), "colour_mode|unknown field");
    j = Minimal();
    j["front"]["elements"][0]["colr"] = "#000000";
    EXPECT_EQ(Refusal(j), "front.elements[0].colr|unknown field");
    j = Minimal();
    j["degradation"] = {{"level", 1}, {"blurr", 1.0}};
    EXPECT_EQ(Refusal(j), "degradation.blurr|unknown field");
    j = Minimal();
    j["front"]["background"] = json::array({{{"type", "waves"}, {"period", 2}}});
    EXPECT_EQ(Refusal(j), "front.background[0].period|unknown field");
}

TEST(Description, RefusesBadValues) {
    json j = Minimal();
    j["scan"]["dpi"] = 20;
    EXPECT_EQ(Refusal(j), "scan.dpi|must lie between 50 and 1200");
    j = Minimal();
    j["paper"] = {{"width_mm", 400}, {"height_mm", 400}};
    j["scan"]["dpi"] = 1200;
    EXPECT_EQ(Refusal(j), "scan.dpi|gives images of more than 60 million pixels for this paper");
    j = Minimal();
    j["scan"]["dpi"] = "300";
    EXPECT_EQ(Refusal(j), "scan.dpi|must be a number");
    j = Minimal();
    j["front"]["elements"][0]["type"] = "label";
    EXPECT_NE(Refusal(j).find("front.elements[0].type|'label' is not one of"), std::string::npos);
    j = Minimal();
    j["front"]["elements"][0].erase("x_mm");
    EXPECT_EQ(Refusal(j), "front.elements[0].x_mm|is required");
    j = Minimal();
    j["degradation"] = {{"level", 0}, {"optics_blur", 2.5}};
    EXPECT_EQ(Refusal(j), "degradation.optics_blur|must lie between 0 and 2");
    j = Minimal();
    j["name"] = "../escape";
    EXPECT_EQ(Refusal(j), "name|must be a plain file stem");
    j["name"] = std::string("cut\0here", 8);  // the files would be written as "cut"
    EXPECT_EQ(Refusal(j), "name|must be a plain file stem");
    j["name"] = "line\nbreak";
    EXPECT_EQ(Refusal(j), "name|must be a plain file stem");
    j = Minimal();
    j["scan"]["sides"] = json::array({"front", "side"});
    EXPECT_EQ(Refusal(j), "scan.sides[1]|must be \"front\", \"rear\" or \"backlight\"");
    // A magnetic codeline without magnetic load would be a look-alike
    // recorded as magnetic: that is "magnetic": false.
    j = Minimal();
    j["front"]["elements"].push_back(
        {{"type", "codeline"}, {"font", "e13b"}, {"text", "123<"}, {"strength", 0.0}});
    EXPECT_EQ(Refusal(j), "front.elements[1].strength|must lie between 0.05 and 5");
    j = Minimal();
    j["front"]["elements"][0]["colour"] = "#12345";
    EXPECT_NE(Refusal(j).find("front.elements[0].colour|must be"), std::string::npos);
    j["front"]["elements"][0]["colour"] = json::array({4294967296LL, 0, 0});  // 2^32 wraps to 0
    EXPECT_NE(Refusal(j).find("front.elements[0].colour|must be"), std::string::npos);
    EXPECT_THROW(ParseDescription(std::string("{\"name\": ")), DescriptionError);
    // A font that fontconfig would only substitute is refused, not replaced.
    j = Minimal();
    j["front"]["elements"][0]["font"] = "No Such Face";
    EXPECT_EQ(Refusal(j), "front.elements[0].font|font family 'No Such Face' is not installed");
}

TEST(Description, RefusesTextOutsideTheFontsCharacterSet) {
    json j = Minimal();
    j["front"]["elements"][0]["font"] = "OCR B";
    j["front"]["elements"][0]["text"] = "ABC\xe4\xb8\xad";  // a CJK ideograph
    EXPECT_EQ(Refusal(j), "front.elements[0].text|character U+4E2D is not in font 'OCR B'");
    j["front"]["elements"][0]["text"] = "AB\xff";
    EXPECT_EQ(Refusal(j), "front.elements[0].text|is not valid UTF-8");

    j = Minimal();
    j["front"]["elements"].push_back(
        {{"type", "codeline"}, {"font", "e13b"}, {"text", "123A456<"}});
    EXPECT_EQ(Refusal(j),
              "front.elements[1].text|character 'A' (U+0041) is not in the E13B character set");
    j["front"]["elements"][1]["text"] = "123>456";  // '>' is CMC7 only
    EXPECT_EQ(Refusal(j),
              "front.elements[1].text|character '>' (U+003E) is not in the E13B character set");
    // A character beyond ASCII is named by its code point, not its first byte.
    j["front"]["elements"][1]["text"] =
        "12\xc3\xa9"
        "4";  // e acute
    EXPECT_EQ(Refusal(j),
              "front.elements[1].text|character U+00E9 is not in the E13B character set");
    // An overlong form of '1' (a description built in code, not parsed from
    // a file) would pass as '1' while its bytes were drawn and recorded.
    j["front"]["elements"][1]["text"] =
        "12\xc0\xb1"
        "4";
    EXPECT_EQ(Refusal(j), "front.elements[1].text|is not valid UTF-8");
    j["front"]["elements"][1]["text"] = "123>456";
    j["front"]["elements"][1]["font"] = "cmc7";
    EXPECT_EQ(Refusal(j), "");
    // The bar drawing takes other bar sizes (print tolerances), checked.
    j["front"]["elements"][1]["bar_mm"] = 0.18;
    j["front"]["elements"][1]["long_mm"] = 0.55;
    EXPECT_EQ(Refusal(j), "");
    j["front"]["elements"][1]["long_mm"] = 0.25;
    EXPECT_EQ(Refusal(j),
              "front.elements[1].long_mm|the intervals must exceed the bar and long "
              "exceed short");
    j["front"]["elements"][1].erase("bar_mm");
    j["front"]["elements"][1].erase("long_mm");
    j["front"]["elements"][1]["text"] = "12?4";
    EXPECT_EQ(Refusal(j),
              "front.elements[1].text|character '?' (U+003F) is not in the CMC7 character set");

    j = Minimal();
    j["front"]["elements"].push_back(
        {{"type", "microperforation"}, {"text", "12a"}, {"x_mm", 10}, {"y_mm", 30}});
    EXPECT_EQ(Refusal(j),
              "front.elements[1].text|character 'a' (U+0061) is not in the "
              "microperforation character set");
}

TEST(Description, RefusesElementsOutsideThePageOrInTheClearBand) {
    json j = Minimal();
    j["front"]["elements"][0]["x_mm"] = 110;
    EXPECT_NE(Refusal(j).find("front.elements[0]|lies outside the page"), std::string::npos);
    j = Minimal();
    j["front"]["elements"].push_back({{"type", "barcode"},
                                      {"symbology", "datamatrix"},
                                      {"data", "12345"},
                                      {"x_mm", 117},
                                      {"y_mm", 5}});
    EXPECT_NE(Refusal(j).find("front.elements[1]|lies outside the page"), std::string::npos);
    j["front"]["elements"][1]["x_mm"] = 100;
    EXPECT_EQ(Refusal(j), "");
    // A codeline of 40 characters (5 inches) does not fit 120 mm of paper.
    j = Minimal();
    j["front"]["elements"].push_back(
        {{"type", "codeline"}, {"font", "cmc7"}, {"text", std::string(40, '1')}});
    EXPECT_NE(Refusal(j).find("front.elements[1]|lies outside the page"), std::string::npos);
    // With a codeline, nothing else may be printed in its clear band.
    j["front"]["elements"][1]["text"] = "123456789";
    EXPECT_EQ(Refusal(j), "");
    j["front"]["elements"][0]["y_mm"] = 50;
    EXPECT_EQ(Refusal(j),
              "front.elements[0]|overlaps the codeline clear band (the bottom 5/8 inch)");
    j = Minimal();
    j["rear"]["elements"] =
        json::array({{{"type", "codeline"}, {"font", "e13b"}, {"text", "123"}}});
    EXPECT_EQ(Refusal(j), "rear.elements[0]|a codeline belongs on the front");
    j = Minimal();
    j["front"]["elements"].push_back({{"type", "barcode"},
                                      {"symbology", "ean13"},
                                      {"data", "12AB"},
                                      {"x_mm", 10},
                                      {"y_mm", 20}});
    EXPECT_NE(Refusal(j).find("front.elements[1].data|zint refused the data"), std::string::npos);
}

// The example descriptions shipped with the tool must stay valid.
TEST(Description, ExampleDescriptionsRender) {
    int count = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(KOVRAN_SOURCE_DIR) + "/data/synth")) {
        if (entry.path().extension() != ".json") continue;
        std::ifstream in(entry.path());
        std::stringstream s;
        s << in.rdbuf();
        json j = json::parse(s.str());
        j["scan"]["dpi"] = 100;  // layout is resolution independent; keep it quick
        EXPECT_EQ(Refusal(j), "") << entry.path();
        ++count;
    }
    EXPECT_GE(count, 2);
}

}  // namespace
}  // namespace kovran::synth
