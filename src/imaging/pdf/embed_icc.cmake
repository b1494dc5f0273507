# Writes OUTPUT, a C++ file holding the bytes of INPUT as the sRGB profile
# of the PDF writer (imaging/pdf/pdf_archive.h).
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}" "// Generated from ${INPUT}; do not edit.
#include \"imaging/pdf/pdf_archive.h\"

namespace kovran::imaging::pdf {

namespace {
const std::uint8_t kProfile[${size}] = {
${bytes}
};
}  // namespace

std::span<const std::uint8_t> SrgbIccProfile() {
    return kProfile;
}

}  // namespace kovran::imaging::pdf
")
