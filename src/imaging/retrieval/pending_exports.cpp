// Exports of retrieval and saving that are not there yet: each refuses.
#include "KovranMS.h"
#include "api/frame.h"

using namespace kovran;

extern "C" {

KVX_API uint8_t* KVXImgGet(int /*handle*/, int16_t /*side*/, const KVXRect* /*region*/,
                           int16_t /*value*/, int16_t /*request*/, int32_t* /*length*/) {
    SetLastResult(KVX_ERR_SW_UNSUPPORTED);
    return nullptr;
}

KVX_API int32_t KVXImgGet2(int /*handle*/, int16_t /*side*/, const KVXRect* /*region*/,
                           int16_t /*value*/, int16_t /*request*/, uint8_t* /*destination*/) {
    return RunExport({.name = "KVXImgGet2", .tag = "KVXImgGet2"},
                     [] { return int32_t{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API int32_t KVXImgGet3(int /*handle*/, int16_t /*side*/, int16_t /*optionA*/,
                           int16_t /*optionB*/, const KVXRect* /*region*/, int16_t /*quality*/,
                           int16_t /*format*/, int16_t /*rotation*/, int16_t /*dpi*/,
                           int16_t /*bitsPerPixel*/, uint8_t* /*destination*/) {
    return RunExport({.name = "KVXImgGet3", .tag = "KVXImgGet3"},
                     [] { return int32_t{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API uint8_t* KVXImgGetFR(int /*handle*/, int16_t /*firstSide*/, int16_t /*secondSide*/,
                             int16_t /*value*/, int16_t /*request*/, int32_t* /*length*/) {
    SetLastResult(KVX_ERR_SW_UNSUPPORTED);
    return nullptr;
}

KVX_API uint8_t* KVXImgGet3FR(int /*handle*/, int16_t /*firstSide*/, int16_t /*firstOptionA*/,
                              int16_t /*firstOptionB*/, int16_t /*secondSide*/,
                              int16_t /*secondOptionA*/, int16_t /*secondOptionB*/,
                              int16_t /*quality*/, int16_t /*format*/, int16_t /*rotation*/,
                              int16_t /*dpi*/, int16_t /*bitsPerPixel*/, int32_t* /*length*/) {
    SetLastResult(KVX_ERR_SW_UNSUPPORTED);
    return nullptr;
}

KVX_API KVXResult KVXImgGetFree(int /*handle*/, uint8_t* /*image*/) {
    return RunExport({.name = "KVXImgGetFree", .tag = "KVXImgGetFree"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXResult KVXElabImgBrightness(int /*handle*/, KVXImgDescriptor* /*image*/,
                                       int16_t /*value*/) {
    return RunExport({.name = "KVXElabImgBrightness", .tag = "KVXElabImgBrightness"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXResult KVXElabImgContrast(int /*handle*/, KVXImgDescriptor* /*image*/,
                                     int16_t /*value*/) {
    return RunExport({.name = "KVXElabImgContrast", .tag = "KVXElabImgContrast"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXResult KVXImgBright(int /*handle*/, int16_t /*side*/, int16_t /*value*/) {
    return RunExport({.name = "KVXImgBright", .tag = "KVXImgBright"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXResult KVXImgContr(int /*handle*/, int16_t /*side*/, int16_t /*value*/) {
    return RunExport({.name = "KVXImgContr", .tag = "KVXImgContr"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXResult KVXElabImgBright2(int /*handle*/, int16_t /*side*/, int16_t /*value*/) {
    return RunExport({.name = "KVXElabImgBright2", .tag = "KVXElabImgBright2"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXResult KVXElabImgContr2(int /*handle*/, int16_t /*side*/, int16_t /*value*/) {
    return RunExport({.name = "KVXElabImgContr2", .tag = "KVXElabImgContr2"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXImgDescriptor* KVXCreateImgStruct(int /*handle*/, int16_t /*dpiFront*/,
                                             int16_t /*dpiRear*/) {
    SetLastResult(KVX_ERR_SW_UNSUPPORTED);
    return nullptr;
}

KVX_API KVXResult KVXFreeImgStruct(int /*handle*/, KVXImgDescriptor* /*image*/) {
    return RunExport({.name = "KVXFreeImgStruct", .tag = "KVXFreeImgStruct"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXResult KVXRead(int /*handle*/, OcrZoneList* /*zones*/, KVXImgDescriptor* /*image*/,
                          BSTR* /*codeline*/, BSTR* /*confidence*/) {
    return RunExport({.name = "KVXRead", .tag = "KVXRead"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API uint8_t* KVXGetElabImgStruct(int /*handle*/, KVXImgDescriptor* /*image*/,
                                     const KVXRect* /*region*/, int16_t /*value*/,
                                     int16_t /*request*/, int32_t* /*length*/) {
    SetLastResult(KVX_ERR_SW_UNSUPPORTED);
    return nullptr;
}

KVX_API uint8_t* KVXGetElabImg(KVXImgDescriptor* /*image*/) {
    SetLastResult(KVX_ERR_SW_UNSUPPORTED);
    return nullptr;
}

KVX_API uint8_t* KVXGetElabImg2(int /*handle*/, int16_t /*side*/, int16_t* /*height*/,
                                int16_t* /*width*/) {
    SetLastResult(KVX_ERR_SW_UNSUPPORTED);
    return nullptr;
}

KVX_API KVXResult KVXFreeElabImgStruct(int /*handle*/, void* /*image*/) {
    return RunExport({.name = "KVXFreeElabImgStruct", .tag = "KVXFreeElabImgStruct"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXResult KVXCreateImgStr2(int /*handle*/, int16_t /*dpiFront*/, int16_t /*dpiRear*/) {
    return RunExport({.name = "KVXCreateImgStr2", .tag = "KVXCreateImgStr2"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXResult KVXFreeImgStr2(int /*handle*/, int16_t /*side*/) {
    return RunExport({.name = "KVXFreeImgStr2", .tag = "KVXFreeImgStr2"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXResult KVXRoiImgStr2(int /*handle*/, int16_t /*left*/, int16_t /*top*/,
                                int16_t /*right*/, int16_t /*bottom*/) {
    return RunExport({.name = "KVXRoiImgStr2", .tag = "KVXRoiImgStr2"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXResult KVXIsPageBlank(int /*handle*/, int16_t /*side*/, int16_t /*pixThreshold*/,
                                 int16_t /*darkLevel*/) {
    return RunExport({.name = "KVXIsPageBlank", .tag = "KVXIsPageBlank"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXResult KVXIQACheck(int /*handle*/, const char* /*frontFile*/, const char* /*rearFile*/) {
    return RunExport({.name = "KVXIQACheck", .tag = "KVXIQACheck"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXResult KVXImgSave(int /*handle*/, int16_t /*side*/, const KVXRect* /*region*/,
                             int16_t /*value*/, int16_t /*request*/, const char* /*fileName*/) {
    return RunExport({.name = "KVXImgSave", .tag = "KVXImgSave"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXResult KVXImgSave2(int /*handle*/, int16_t /*side*/, int16_t /*left*/, int16_t /*top*/,
                              int16_t /*right*/, int16_t /*bottom*/, int16_t /*value*/,
                              int16_t /*request*/, const char* /*fileName*/) {
    return RunExport({.name = "KVXImgSave2", .tag = "KVXImgSave2"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXResult KVXImgSave3(int /*handle*/, int16_t /*side*/, int16_t /*optionA*/,
                              int16_t /*optionB*/, int16_t /*left*/, int16_t /*top*/,
                              int16_t /*right*/, int16_t /*bottom*/, int16_t /*quality*/,
                              int16_t /*format*/, int16_t /*rotation*/, int16_t /*dpi*/,
                              int16_t /*bitsPerPixel*/, const char* /*fileName*/) {
    return RunExport({.name = "KVXImgSave3", .tag = "KVXImgSave3"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXResult KVXImgSave4(int /*handle*/, int16_t /*side*/, int16_t /*left*/, int16_t /*top*/,
                              int16_t /*right*/, int16_t /*bottom*/, int16_t /*value*/,
                              int16_t /*format*/, int16_t /*rotation*/, const char* /*fileName*/) {
    return RunExport({.name = "KVXImgSave4", .tag = "KVXImgSave4"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXResult KVXImgSaveCol(int /*handle*/, int16_t /*side*/, const KVXRect* /*region*/,
                                int16_t /*value*/, int16_t /*request*/, int16_t /*channel*/,
                                const char* /*fileName*/) {
    return RunExport({.name = "KVXImgSaveCol", .tag = "KVXImgSaveCol"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXResult KVXImgSaveFR(int /*handle*/, int16_t /*firstSide*/, int16_t /*secondSide*/,
                               int16_t /*value*/, int16_t /*request*/, const char* /*fileName*/) {
    return RunExport({.name = "KVXImgSaveFR", .tag = "KVXImgSaveFR"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXResult KVXImgSaveFR2(int /*handle*/, int16_t /*firstSide*/, int16_t /*secondSide*/,
                                int16_t /*value*/, int16_t /*format*/, int16_t /*rotation*/,
                                int16_t /*dpi*/, int16_t /*bitsPerPixel*/,
                                const char* /*fileName*/) {
    return RunExport({.name = "KVXImgSaveFR2", .tag = "KVXImgSaveFR2"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXResult KVXImgSave3FR(int /*handle*/, int16_t /*firstSide*/, int16_t /*firstOptionA*/,
                                int16_t /*firstOptionB*/, int16_t /*secondSide*/,
                                int16_t /*secondOptionA*/, int16_t /*secondOptionB*/,
                                int16_t /*value*/, int16_t /*format*/, int16_t /*rotation*/,
                                int16_t /*dpi*/, int16_t /*bitsPerPixel*/,
                                const char* /*fileName*/) {
    return RunExport({.name = "KVXImgSave3FR", .tag = "KVXImgSave3FR"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXResult KVXSaveImgStruct(int /*handle*/, KVXImgDescriptor* /*image*/,
                                   const KVXRect* /*region*/, int16_t /*value*/,
                                   int16_t /*request*/, const char* /*fileName*/) {
    return RunExport({.name = "KVXSaveImgStruct", .tag = "KVXSaveImgStruct"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXResult KVXSaveImgStruct2(int16_t /*side*/, const KVXRect* /*region*/, int16_t /*value*/,
                                    int16_t /*request*/, const char* /*fileName*/) {
    return RunExport({.name = "KVXSaveImgStruct2", .tag = "KVXSaveImgStruct2"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXResult KVXSaveImgStr2(int /*handle*/, int16_t /*side*/, int16_t /*value*/,
                                 int16_t /*request*/, const char* /*fileName*/) {
    return RunExport({.name = "KVXSaveImgStr2", .tag = "KVXSaveImgStr2"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXResult KVXSaveFrontRear(int /*handle*/, KVXImgDescriptor* /*first*/,
                                   KVXImgDescriptor* /*second*/, int16_t /*value*/,
                                   int16_t /*request*/, const char* /*fileName*/) {
    return RunExport({.name = "KVXSaveFrontRear", .tag = "KVXSaveFrontRear"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXResult KVXMultiPageInit(int /*handle*/, const char* /*fileName*/, int16_t /*format*/) {
    return RunExport({.name = "KVXMultiPageInit", .tag = "KVXMultiPageInit"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXResult KVXMultiPageInit0(int /*handle*/, const char* /*fileName*/, int16_t /*format*/,
                                    int16_t /*quality*/) {
    return RunExport({.name = "KVXMultiPageInit0", .tag = "KVXMultiPageInit0"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXResult KVXMultiPageAdd(int /*handle*/, const char* /*imageFile*/) {
    return RunExport({.name = "KVXMultiPageAdd", .tag = "KVXMultiPageAdd"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

KVX_API KVXResult KVXMultiPageClose(int /*handle*/) {
    return RunExport({.name = "KVXMultiPageClose", .tag = "KVXMultiPageClose"},
                     [] { return KVXResult{KVX_ERR_SW_UNSUPPORTED}; });
}

}  // extern "C"
