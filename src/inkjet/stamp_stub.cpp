// Placeholder until the stamp composition lands: nothing can be composed.
#include "inkjet/stamp.h"

namespace kovran::inkjet {

StampRecord& Stamp() {
    static StampRecord record;
    return record;
}
void DropStampImage() {
    Stamp().image.reset();
}
std::optional<std::string> FontFilePath(std::string_view) {
    return std::nullopt;
}
KVXResult ComposeFntText(std::string_view, const std::string&, int, GlyphFlip) {
    return KVX_ERR_GENERIC;
}
KVXResult ComposeSystemText(std::string_view, std::string_view, int, TextTarget,
                            const std::string&) {
    return KVX_ERR_GENERIC;
}
KVXResult LoadStampBitmap(const std::string&) {
    return KVX_ERR_INV_PARAMETER;
}
KVXResult PrepareType1Stamp(const Type1Printer&) {
    return KVX_ERR_GENERIC;
}
std::optional<std::vector<std::uint8_t>> PackType1Columns(std::size_t, int*) {
    return std::nullopt;
}
KVXResult OrientType2Bitmap(const std::string&, Type2Orientation) {
    return KVX_ERR_GENERIC;
}
KVXResult ConvertType2Bitmap(const std::string&, std::vector<std::uint8_t>*) {
    return KVX_ERR_GENERIC;
}

}  // namespace kovran::inkjet
