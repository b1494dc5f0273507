// The image descriptors, the blank page, the image-quality hand-over, a
// side that was not acquired, automatic quality and colour images, as a
// host drives them.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "blackbox/image_host_fixture.h"
#include "blackbox/reference_decoders.h"

namespace kovran::test {
namespace {

TEST_F(HostImages, TheDescriptorsOfRearAndFront) {
    KVXImgDescriptor* rear = KVX(KVXCreateImgStruct)(handle, 200, 200);
    ASSERT_NE(rear, nullptr) << Log();
    KVXImgDescriptor* front = rear + 1;
    BSTR codeline = nullptr;
    BSTR confidence = nullptr;
    EXPECT_EQ(KVX(KVXRead)(handle, nullptr, front, &codeline, &confidence), KVX_ERR_INV_PARAMETER);
    ASSERT_EQ(KVX(KVXRead)(handle, nullptr, rear, &codeline, &confidence), KVX_OK) << Log();
    KVX(SysFreeString)(codeline);
    KVX(SysFreeString)(confidence);
    EXPECT_EQ(front->height, KVX(KVXGetAcqHeight)(handle, kFront, 200));
    EXPECT_EQ(front->paddedWidth, front->width + 7);
    EXPECT_GT(rear->width, 0);

    std::int32_t length = 0;
    std::uint8_t* jpeg =
        KVX(KVXGetElabImgStruct)(handle, front, nullptr, 70, KVX_FMT_JPEG, &length);
    ASSERT_NE(jpeg, nullptr) << Log();
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(KVX(KVXFreeElabImgStruct)(handle, jpeg), KVX_OK);
    EXPECT_EQ(KVX(KVXGetElabImgStruct)(handle, nullptr, nullptr, 70, 0, &length), nullptr);
    EXPECT_EQ(KVX(KVXGetLastResult)(), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(KVX(KVXGetElabImgStruct)(handle, rear + 2, nullptr, 70, 0, &length), nullptr);

    std::uint8_t* rgb = KVX(KVXGetElabImg)(front);
    ASSERT_NE(rgb, nullptr) << Log();
    // Grey repeated three times per pixel, rows of the padded width.
    const std::size_t row = static_cast<std::size_t>(front->paddedWidth) * 3;
    const std::size_t mid = row * static_cast<std::size_t>(front->height / 2) + 300;
    EXPECT_EQ(rgb[mid], rgb[mid + 1]);
    EXPECT_EQ(rgb[mid + 1], rgb[mid + 2]);
    EXPECT_EQ(KVX(KVXFreeElabImgStruct)(handle, rgb), KVX_OK);

    std::int16_t h = 0, w = 0;
    std::uint8_t* preview = KVX(KVXGetElabImg2)(handle, 9, &h, &w);
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(h, front->height);
    EXPECT_EQ(w, front->width);
    EXPECT_EQ(front->image, preview);
    EXPECT_EQ(KVX(KVXFreeImgStr2)(handle, 2), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(KVX(KVXFreeImgStr2)(handle, 9), KVX_OK);
    EXPECT_EQ(front->image, nullptr);
    // A descriptor is never freed; a pointer freed already is refused.
    EXPECT_EQ(KVX(KVXFreeElabImgStruct)(handle, front), KVX_OK);
    EXPECT_EQ(KVX(KVXFreeElabImgStruct)(handle, preview), KVX_ERR_INV_PARAMETER);

    EXPECT_EQ(KVX(KVXSaveImgStruct)(handle, front, nullptr, 0, KVX_FMT_PNG, File("d.png").c_str()),
              KVX_OK);
    const auto png = ReadPng(File("d.png"));
    ASSERT_TRUE(png);
    EXPECT_EQ(png->xPixelsPerMetre, 7874u);  // 200 dpi
    EXPECT_EQ(
        KVX(KVXSaveImgStruct)(handle, nullptr, nullptr, 0, KVX_FMT_PNG, File("e.png").c_str()),
        KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(
        KVX(KVXSaveFrontRear)(handle, front, rear, 0, KVX_FMT_TIFF_G4, File("fr.tif").c_str()),
        KVX_OK)
        << Log();
    const auto pages = ReadTiff(File("fr.tif"));
    ASSERT_TRUE(pages);
    EXPECT_EQ(pages->front().height, front->height + rear->height);
    EXPECT_EQ(KVX(KVXSaveFrontRear)(handle, front, nullptr, 0, 2, File("x.tif").c_str()),
              KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(KVX(KVXElabImgBrightness)(handle, front, 20), KVX_OK);
    EXPECT_EQ(KVX(KVXElabImgContrast)(handle, rear + 5, 20), KVX_ERR_INV_PARAMETER);

    EXPECT_EQ(KVX(KVXFreeImgStruct)(handle, front), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(KVX(KVXFreeImgStruct)(handle, rear), KVX_OK);
    const std::string log = Log();
    for (const char* text :
         {"KVXRead with invalid image", "invalid handle 2", "invalid handle (BB)",
          "invalid handle 3", "invalid handle 1", "KVXFreeImgStr2 with invalid side ",
          "KVXFreeImgStruct with invalid image handle ", "ElabImgContrast - invalid side"})
        EXPECT_NE(log.find(text), std::string::npos) << text;
}

TEST_F(HostImages, BlankPageAndImageQuality) {
    Scan();
    EXPECT_EQ(KVX(KVXIsPageBlank)(handle, kFront, 5, 128), KVX_OK) << Log();
    EXPECT_EQ(KVX(KVXIsPageBlank)(handle, 9, 5, 128), KVX_OK);
    EXPECT_EQ(KVX(KVXIsPageBlank)(handle, 2, 5, 128), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(KVX(KVXIsPageBlank)(handle, kFront, 101, 128), KVX_ERR_INV_PARAMETER);
    // Nothing is darker than 0.
    EXPECT_EQ(KVX(KVXIsPageBlank)(handle, kFront, 5, 0), KVX_WAR_BLANK_PAGE);

    ASSERT_EQ(KVX(KVXImgSave)(handle, kFront, nullptr, 75, 0, File("f.jpg").c_str()), KVX_OK);
    ASSERT_EQ(KVX(KVXImgSave)(handle, kRear, nullptr, 75, 0, File("r.jpg").c_str()), KVX_OK);
    EXPECT_EQ(KVX(KVXIQACheck)(handle, nullptr, File("r.jpg").c_str()), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(KVX(KVXIQACheck)(handle, File("none.jpg").c_str(), File("r.jpg").c_str()),
              KVX_ERR_READ);
    EXPECT_EQ(KVX(KVXIQACheck)(handle, File("f.jpg").c_str(), File("none.jpg").c_str()),
              KVX_ERR_READ);
    EXPECT_EQ(KVX(KVXIQACheck)(handle, File("f.jpg").c_str(), File("r.jpg").c_str()),
              KVX_ERR_SW_UNSUPPORTED);
    const std::string log = Log();
    EXPECT_NE(log.find("error opening Front file"), std::string::npos);
    EXPECT_NE(log.find("error opening Rear file"), std::string::npos);
}

TEST_F(HostImages, ASideNotAcquiredGivesNoImage) {
    Scan(300, 0);
    std::int32_t length = 5;
    EXPECT_EQ(KVX(KVXImgGet)(handle, kRear, nullptr, 75, KVX_FMT_JPEG, &length), nullptr);
    EXPECT_EQ(KVX(KVXGetLastResult)(), KVX_WAR_IMAGE_SIZE);
    EXPECT_EQ(length, 5);
    EXPECT_EQ(KVX(KVXImgSave)(handle, kRear, nullptr, 75, 0, File("r.jpg").c_str()),
              KVX_WAR_IMAGE_SIZE);
    EXPECT_TRUE(Entries(out()).empty());
    EXPECT_EQ(KVX(KVXImgSaveFR)(handle, kFront, kRear, 75, 0, File("fr.jpg").c_str()),
              KVX_ERR_INV_PARAMETER);
    EXPECT_NE(Log().find("Save front rear without requested side"), std::string::npos);
}

TEST_F(HostImages, AutomaticQualityWithoutTheChequeCheckUsesTheIniQuality) {
    Scan();
    const auto automatic = Get(kFront, KVX_AUTO_QUALITY, KVX_FMT_JPEG);
    const auto fixed = Get(kFront, 30, KVX_FMT_JPEG);
    ASSERT_FALSE(automatic.empty());
    EXPECT_EQ(automatic, fixed);
    EXPECT_NE(Log().find("ignoring QUALITY_ITA_CHECK, using 30"), std::string::npos) << Log();
}

class HostColourImages : public HostImages {
  protected:
    void SetUp() override {
        ini = "[Image]\nColor=2\n";
        HostImages::SetUp();
    }
};

TEST_F(HostColourImages, ColourSidesInEveryDepth) {
    Scan(200, 200);
    ASSERT_EQ(KVX(KVXImgSave)(handle, kFront, nullptr, 80, KVX_FMT_JPEG, File("c.jpg").c_str()),
              KVX_OK)
        << Log();
    const auto jpeg = ReadJpeg(File("c.jpg"));
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(jpeg->components, 3);
    EXPECT_EQ(jpeg->xDensity, 200);

    const auto bgr = Get(kFront, 0, KVX_FMT_BMP);
    const auto rgb = Get(kFront, 0, KVX_FMT_BMP | KVX_RGB);
    const auto facts = ReadBmp(bgr);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->bitsPerPixel, 24);
    ASSERT_EQ(bgr.size(), rgb.size());
    // The same pixels with red and blue exchanged (the bottom row).
    bool swapped = true;
    bool colourful = false;
    for (std::size_t i = 54; i < 54 + static_cast<std::size_t>(facts->width) * 3; i += 3) {
        swapped = swapped && bgr[i] == rgb[i + 2] && bgr[i + 2] == rgb[i];
        colourful = colourful || bgr[i] != bgr[i + 2];
    }
    EXPECT_TRUE(colourful);
    EXPECT_TRUE(swapped);

    for (const int bits : {8, 1}) {
        const std::string name = File("c" + std::to_string(bits) + ".tif");
        ASSERT_EQ(KVX(KVXImgSave)(handle, kFront, nullptr, bits, KVX_FMT_TIFF_LZW, name.c_str()),
                  KVX_OK);
        const auto pages = ReadTiff(name);
        ASSERT_TRUE(pages);
        EXPECT_EQ(pages->front().bitsPerSample, bits);
        EXPECT_EQ(pages->front().samplesPerPixel, 1);
    }
    ASSERT_EQ(KVX(KVXImgSave)(handle, kFront, nullptr, 0, KVX_FMT_PNG, File("c.png").c_str()),
              KVX_OK);
    const auto png = ReadPng(File("c.png"));
    ASSERT_TRUE(png);
    EXPECT_EQ(png->colourType, 2);  // RGB
}

}  // namespace
}  // namespace kovran::test
