#include "testing/synth/symbols.h"

#include "testing/synth/synth_error.h"

#include <dmtx.h>
#include <zint.h>

#include <map>
#include <memory>

namespace kovran::synth {

namespace {

struct ZintDeleter {
    void operator()(zint_symbol* s) const { ZBarcode_Delete(s); }
};
struct DmtxDeleter {
    void operator()(DmtxEncode* e) const { dmtxEncodeDestroy(&e); }
};

void EncodeZint(const std::string& symbology, const std::string& data, SymbolModules& out) {
    static const std::map<std::string, int> kCodes = {
        {"code128", BARCODE_CODE128}, {"code39", BARCODE_CODE39},
        {"ean13", BARCODE_EANX},      {"itf", BARCODE_C25INTER},
        {"pdf417", BARCODE_PDF417},   {"datamatrix", BARCODE_DATAMATRIX},
        {"qrcode", BARCODE_QRCODE}};
    const auto it = kCodes.find(symbology);
    if (it == kCodes.end()) {
        throw SynthError("unknown symbology " + symbology);
    }
    std::unique_ptr<zint_symbol, ZintDeleter> sym(ZBarcode_Create());
    if (!sym) {
        throw SynthError("zint could not allocate a symbol");
    }
    sym->symbology = it->second;
    sym->show_hrt = 0;
    sym->input_mode = DATA_MODE;
    const int rc = ZBarcode_Encode(sym.get(), reinterpret_cast<const unsigned char*>(data.data()),
                                   static_cast<int>(data.size()));
    if (rc >= ZINT_ERROR) {
        throw SynthError(std::string("zint refused the data: ") + sym->errtxt);
    }
    if (sym->rows < 1 || sym->rows > 200 || sym->width < 1 || sym->width > 1152) {
        throw SynthError("zint produced a symbol of unexpected size");
    }
    const bool matrix = symbology == "datamatrix" || symbology == "qrcode";
    out.cols = sym->width;
    out.rows = sym->rows;
    out.linear = !matrix && symbology != "pdf417";
    out.rowModules = symbology == "pdf417" ? 3.0 : 1.0;
    out.quietModules = out.linear ? 10 : (symbology == "qrcode" ? 4 : 2);
    out.dark.assign(static_cast<std::size_t>(out.cols) * out.rows, 0);
    for (int r = 0; r < out.rows; ++r)
        for (int c = 0; c < out.cols; ++c)
            out.dark[static_cast<std::size_t>(r) * out.cols + c] =
                (sym->encoded_data[r][c >> 3] >> (c & 7)) & 1;
    if (out.linear) {
        // EAN and friends may carry guard rows; keep the first full row.
        out.rows = 1;
        out.dark.resize(out.cols);
    }
}

void EncodeDmtx(const std::string& data, SymbolModules& out) {
    std::unique_ptr<DmtxEncode, DmtxDeleter> enc(dmtxEncodeCreate());
    if (!enc) {
        throw SynthError("libdmtx could not allocate an encoder");
    }
    dmtxEncodeSetProp(enc.get(), DmtxPropModuleSize, 1);
    dmtxEncodeSetProp(enc.get(), DmtxPropMarginSize, 0);
    dmtxEncodeSetProp(enc.get(), DmtxPropPixelPacking, DmtxPack8bppK);
    std::string copy = data;
    if (dmtxEncodeDataMatrix(enc.get(), static_cast<int>(copy.size()),
                             reinterpret_cast<unsigned char*>(copy.data())) != DmtxPass ||
        !enc->image) {
        throw SynthError("libdmtx refused the data");
    }
    const int w = dmtxImageGetProp(enc->image, DmtxPropWidth);
    const int h = dmtxImageGetProp(enc->image, DmtxPropHeight);
    if (w < 8 || h < 8 || w > 200 || h > 200) {
        throw SynthError("libdmtx produced a symbol of unexpected size");
    }
    out.cols = w;
    out.rows = h;
    out.linear = false;
    out.rowModules = 1.0;
    out.quietModules = 2;
    out.dark.assign(static_cast<std::size_t>(w) * h, 0);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            int v = 255;
            // libdmtx counts rows from the bottom of the symbol.
            dmtxImageGetPixelValue(enc->image, c, h - 1 - r, 0, &v);
            out.dark[static_cast<std::size_t>(r) * w + c] = v < 128;
        }
}

}  // namespace

SymbolModules EncodeSymbol(const std::string& symbology, const std::string& data,
                           const std::string& generator) {
    if (data.empty()) {
        throw SynthError("no data to encode");
    }
    SymbolModules out;
    if (generator == "libdmtx") {
        if (symbology != "datamatrix") {
            throw SynthError("libdmtx only generates datamatrix");
        }
        EncodeDmtx(data, out);
    } else {
        EncodeZint(symbology, data, out);
    }
    return out;
}

}  // namespace kovran::synth
