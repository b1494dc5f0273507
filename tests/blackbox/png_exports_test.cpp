// libpng's functions through the library's handle, as a host that resolves
// them with dlsym sees them: the system libpng's own, not copies.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <png.h>

#include <sstream>
#include <string>

#include "support/hosted_library.h"
#include "support/temp_dir.h"

namespace kovran::test {
namespace {

TEST(HostPng, LibpngFunctionsResolveThroughTheLibraryHandle) {
    TempDir dir;
    HostedLibrary lib(dir.path(), "[General]\nLogTimeStamp=0\n");
    // The test itself does not link libpng: every png_ function it calls
    // comes through the library.
    using Version = png_uint_32 (*)();
    using CreateRead = png_structp (*)(png_const_charp, png_voidp, png_error_ptr, png_error_ptr);
    using CreateInfo = png_infop (*)(png_const_structrp);
    using DestroyRead = void (*)(png_structpp, png_infopp, png_infopp);
    using SigCmp = int (*)(png_const_bytep, size_t, size_t);
    const auto version = lib.Function<Version>("png_access_version_number");
    const auto createRead = lib.Function<CreateRead>("png_create_read_struct");
    const auto createInfo = lib.Function<CreateInfo>("png_create_info_struct");
    const auto destroyRead = lib.Function<DestroyRead>("png_destroy_read_struct");
    const auto sigCmp = lib.Function<SigCmp>("png_sig_cmp");
    ASSERT_TRUE(version && createRead && createInfo && destroyRead && sigCmp);
    for (const char* name : {"png_write_png", "png_read_png", "png_create_write_struct",
                             "png_set_IHDR", "png_image_begin_read_from_memory"})
        EXPECT_NE(lib.Symbol(name), nullptr) << name;

    EXPECT_EQ(version(), static_cast<png_uint_32>(PNG_LIBPNG_VER));
    png_structp png = createRead(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    ASSERT_NE(png, nullptr);
    png_infop info = createInfo(png);
    EXPECT_NE(info, nullptr);
    destroyRead(&png, &info, nullptr);
    EXPECT_EQ(png, nullptr);
    const png_byte signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    EXPECT_EQ(sigCmp(signature, 0, 8), 0);

    // The very functions of the system libpng the library depends on.
    void* system = dlopen("libpng16.so.16", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(system, nullptr) << "libpng is not loaded with the library";
    EXPECT_EQ(lib.Symbol("png_create_read_struct"), dlsym(system, "png_create_read_struct"));
    EXPECT_EQ(lib.Symbol("png_write_png"), dlsym(system, "png_write_png"));
    dlclose(system);
}

TEST(HostPng, TheLibraryNeedsLibpngAndDefinesNoneOfItsFunctions) {
    std::string dynamic;
    ASSERT_EQ(RunProgram({"/usr/bin/readelf", "-d", BuiltLibraryPath()}, &dynamic), 0);
    EXPECT_NE(dynamic.find("Shared library: [libpng16.so.16]"), std::string::npos) << dynamic;
    std::string defined;
    ASSERT_EQ(RunProgram({"/usr/bin/nm", "-D", "--defined-only", BuiltLibraryPath()}, &defined), 0);
    std::istringstream lines(defined);
    for (std::string line; std::getline(lines, line);)
        EXPECT_EQ(line.find(" png_"), std::string::npos) << line;
}

}  // namespace
}  // namespace kovran::test
