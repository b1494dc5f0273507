// What the document reading knows about the zone's document and hands to
// the DataMatrix reader: the working document type, whether a
// microperforation zone is in the zone list, the marks of the codeline and
// whether a scanner is open.
#pragma once

namespace kovran::decoders::datamatrix {

struct DocumentContext {
    int typeDoc = 0;
    // The zone list holds a microperforation zone (font 35).
    bool microperforationZone = false;
    // The codeline carries the DataMatrix mark (';').
    bool dataMatrixMark = false;
    // The codeline carries the '=' mark (and no ';').
    bool equalsMark = false;
    // 0 when no scanner is open: the image came from an alternative back-end.
    int productId = 0;
};

// Document types whose zones may hold a symbol cut by the image corner;
// those zones get the corner and bounding box rules.
inline bool IsCornerDocumentType(int typeDoc) {
    return typeDoc == 3 || typeDoc == 4 || typeDoc == 6 || typeDoc == 7 || typeDoc == 8;
}

}  // namespace kovran::decoders::datamatrix
