/*
 * KovranMS: base library of the Kovran USB cheque and document scanners.
 *
 * The only header a host includes. Every function is a C function; none
 * throws. Texts are single-byte strings. Functions that return a text come
 * in a buffer form and a BSTR form; a BSTR out argument is freed (when it
 * holds a string) and replaced.
 *
 * The library also carries libpng's public functions (png_create_read_struct,
 * png_write_png and the rest), unchanged: they are the system libpng's own,
 * which the library loads with itself, so a host that looks them up through
 * the library's handle (dlsym) finds them. Declare them with <png.h>.
 */
#ifndef KOVRANMS_H
#define KOVRANMS_H

#include <stdint.h>

#if defined(KOVRAN_BUILDING_LIBRARY)
#define KVX_API __attribute__((visibility("default")))
#else
#define KVX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes ------------------------------------------------------ */

/* 0 success, negative an error, positive a warning. */
typedef int32_t KVXResult;

/* One row per result code: its name, its value and the message that
 * KVXErrorMsg and its relatives give for it. The texts are the product's,
 * spelling included; hosts compare them. */
#define KVX_RESULT_CODES(X)                                                                     \
    X(KVX_OK, 0, "Success.")                                                                    \
    X(KVX_WAR_IMAGE_SIZE, 3, "Unexpected image dimensions warning.")                            \
    X(KVX_WAR_ZONE_OUTSIDE, 4, "The indicated zone it outside the document.")                   \
    X(KVX_WAR_NO_CALIBRATION, 5, "Missing Calibration.")                                        \
    X(KVX_WAR_BLANK_PAGE, 6, "Blank page detected.")                                            \
    X(KVX_WAR_OCR_TRUNCATED, 7, "OCR recognition truncated to available characters.")           \
    X(KVX_WAR_CANCELLED, 8, "Operation cancelled by the user.")                                 \
    X(KVX_WAR_NO_POWER, 9, "The device is missing external power.")                             \
    X(KVX_WAR_DIRTY, 10, "The device sensors are dirty. Perform cleaning.")                     \
    X(KVX_WAR_IQA, 11, "IQA warning")                                                           \
    X(KVX_ERR_GENERIC, -1, "Generic error.")                                                    \
    X(KVX_ERR_BUSY, -2, "Device is busy. Close the previous istance of the device.")            \
    X(KVX_ERR_INV_PARAMETER, -3, "Invalid parameter.")                                          \
    X(KVX_ERR_OUT_OF_MEMORY, -4, "Out of memory.")                                              \
    X(KVX_ERR_WRITE, -5, "Write error.")                                                        \
    X(KVX_ERR_READ, -6, "Read error.")                                                          \
    X(KVX_ERR_OS_INCOMPATIBLE, -7, "Device version is incompatible with the Operating System.") \
    X(KVX_ERR_NOT_INITIALIZED, -8, "Missing Initialization.")                                   \
    X(KVX_ERR_NO_POWER, -9, "The device is missing external power.")                            \
    X(KVX_ERR_TIMEOUT, -10, "Device timeout.")                                                  \
    X(KVX_ERR_SW_UNSUPPORTED, -11,                                                              \
      "This SW version does not supported the required operation/value.")                       \
    X(KVX_ERR_DEVICE_NOT_FOUND, -14, "Device not found.")                                       \
    X(KVX_ERR_HW_UNSUPPORTED, -15,                                                              \
      "This HW version does not support the required operation/value.")                         \
    X(KVX_ERR_DETACHING, -17, "Function called while dll is detaching.")                        \
    X(KVX_ERR_NOT_READY, -18,                                                                   \
      "The device is not ready (not connected, riconnecting or not working).")                  \
    X(KVX_ERR_ABORTED, -19, "Operation aborted by the user.")                                   \
    X(KVX_ERR_IMAGE_SIZE, -20, "Unexpected image dimensions.")                                  \
    X(KVX_ERR_DEVICE, -21, "Device error.")                                                     \
    X(KVX_ERR_CALIBRATION, -22, "Calibration error.")                                           \
    X(KVX_ERR_CALIBRATION_SHORT, -23, "Calibration error - sheet too short.")                   \
    X(KVX_ERR_OCR, -30, "OCR general error.")                                                   \
    X(KVX_ERR_OCR_AREA, -31, "OCR Area too small.")                                             \
    X(KVX_ERR_OCR_FONT, -33, "OCR Font not enabled.")                                           \
    X(KVX_ERR_OCR_DB, -34, "Error opening OCR database.")                                       \
    X(KVX_ERR_MS_READ, -70, "Magnetic stripe reading error.")                                   \
    X(KVX_ERR_MS_START, -71, "Magnetic stripe - missing start sentinel.")                       \
    X(KVX_ERR_MS_END, -72, "Magnetic stripe - missing end sentinel.")                           \
    X(KVX_ERR_MS_PARITY, -73, "Magnetic stripe - parity error.")                                \
    X(KVX_ERR_MS_LRC, -74, "Magnetic stripe - LCR error.")                                      \
    X(KVX_ERR_MS_TOO_MANY, -75, "Magnetic stripe - too many chars read.")                       \
    X(KVX_ERR_INKJET, -80, "Inkjet - generic error")                                            \
    X(KVX_ERR_INKJET_INCOMPLETE, -81, "Inkjet - incomplete printing")                           \
    X(KVX_ERR_IQA, -90, "IQA error")                                                            \
    X(KVX_ERR_DOUBLE_FEED, -111, "Double feed detected")                                        \
    X(KVX_ERR_SEQUENCE, -112, "Invalid sequence detected")                                      \
    X(KVX_ERR_EDGE, -113, "Edge detected")                                                      \
    X(KVX_ERR_SEQUENCE2, -114, "Invalid sequence (2) detected")

#define KVX_RESULT_CODE_ENUMERATOR(name, value, message) name = (value),
enum KVXResultCode { KVX_RESULT_CODES(KVX_RESULT_CODE_ENUMERATOR) };
#undef KVX_RESULT_CODE_ENUMERATOR

/* ---- Automation strings -------------------------------------------------
 * The OLE layout: a 32-bit byte length stored before the text and a NUL
 * after it. The library's texts are single-byte: read a BSTR it returns as
 * (const char*) and its length with SysStringByteLen. */
#ifndef KOVRAN_NO_BSTR_TYPEDEF
typedef unsigned short OLECHAR;
typedef OLECHAR* BSTR;
#endif

KVX_API BSTR SysAllocStringByteLen(const char* psz, unsigned int len);
KVX_API void SysFreeString(BSTR bstr);
KVX_API unsigned int SysStringByteLen(BSTR bstr);

/* ---- Last result and messages ------------------------------------------ */

KVX_API KVXResult KVXGetLastResult(void);
KVX_API void KVXSetLastResult(int value);
/* Message of `code` into *msg. Returns 0 or KVX_ERR_OUT_OF_MEMORY. */
KVX_API KVXResult KVXErrorMsg(int code, BSTR* msg);
/* Message of the last result into buf; len is taken as 16 bits. Returns the
 * message length + 1 (also as a size query when len <= 0), or -1. */
KVX_API int KVXErrorMsg2(int len, char* buf);
/* Message of the last result into *msg; the last result becomes 0. */
KVX_API KVXResult KVXErrorString(BSTR* msg);

/* ---- Library information ----------------------------------------------- */

/* Version text: with handle 0 or -1 the library text, else the device text. */
KVX_API KVXResult KVXVersion(int handle, BSTR* version);
/* Device version text into buf; returns its length, the size needed (null
 * buffer or len 0), or 65535 on failure. */
KVX_API int KVXVersionC(int ignored, char* buf, uint16_t len);

/* ---- Device connection -------------------------------------------------- */

/* Opens the scanner and returns its handle, or -1 (last result -21 when no
 * scanner is found or it cannot be opened). configDir may be null or empty
 * (the configuration directory of the load). Further calls while the device
 * is open return the same handle and count one more open. */
KVX_API int KVXInitialize(const char* configDir);
/* The same for the scanner with this serial number (null or empty: any). */
KVX_API int KVXInitializeSN(const char* configDir, const char* serial);
/* The same for the index-th scanner found (0-based; -1: the first). */
KVX_API int KVXInitializeNum(const char* configDir, int index);
/* Counts one open less; the last one closes the device. Returns 0. */
KVX_API KVXResult KVXClose(int handle);
/* Stops the feed and the printing and, when the device was lost, opens it
 * again. Returns the last result. */
KVX_API KVXResult KVXReset(int handle);
/* The device's configuration word, read anew (0 without a device). */
KVX_API uint32_t KVXComposition(void);
KVX_API uint32_t KVXCompositionL(void);
/* The second configuration word (FW 0x4000 and later), else 0. */
KVX_API uint32_t KVXCompositionH(void);

/* ---- Device status and utility commands ---------------------------------- */

/* The status word (0 on failure). */
KVX_API uint32_t KVXReadStatusL(int handle);
/* Sounds the buzzer (tone 0 switches it off) and waits durationMs. */
KVX_API KVXResult KVXBuzzer(int handle, uint8_t tone, uint16_t durationMs);
/* The hardware key block into buffer (length bytes, cleared first). */
KVX_API KVXResult KVXHWKey(int handle, uint8_t* buffer, uint16_t length);
/* VID, PID and firmware version; each pointer may be null. */
KVX_API KVXResult KVXDeviceInfo(int handle, uint16_t* vid, uint16_t* pid, uint16_t* fw);
/* The serial number into *serial. */
KVX_API KVXResult KVXReadSerialNumber(int handle, BSTR* serial);
/* The serial number into buffer (length >= 16; cut to length - 1). */
KVX_API KVXResult KVXReadSerialNumber0(int handle, uint16_t length, char* buffer);
/* The serial number into buffer; returns its length + 1 (also as a size
 * query when buffer is null or length <= 0), or -1 (last result -3) when
 * the buffer is too short. */
KVX_API int KVXReadSN(int handle, char* buffer, int16_t length);
/* The eight photo sensor tuning bytes, read and written unchanged. */
KVX_API KVXResult KVXPhotoTunRead(int handle, uint8_t* buffer);
KVX_API KVXResult KVXPhotoTunWrite(int handle, const uint8_t* buffer);
KVX_API KVXResult KVXPhotoTunReadVB(int handle, uint8_t* b0, uint8_t* b1, uint8_t* b2, uint8_t* b3,
                                    uint8_t* b4, uint8_t* b5, uint8_t* b6, uint8_t* b7);
KVX_API KVXResult KVXPhotoTunWriteVB(int handle, uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3,
                                     uint8_t b4, uint8_t b5, uint8_t b6, uint8_t b7);

/* ---- Page and inkjet counters -------------------------------------------- */

/* Lifetime totals and the current counts (reset != 0 sets the current count
 * to 0 first); 0x7FFFFFFF at most; -1 when the handle is refused. */
KVX_API int KVXPagNumTot(int handle);
KVX_API int KVXPagNumCur(int handle, uint8_t reset);
KVX_API int KVXInkjetNumTot(int handle);
KVX_API int KVXInkjetNumCur(int handle, uint8_t reset);

/* ---- Scan and image buffers ------------------------------------------- */

/* The host's OCR zone list: little-endian, packed. Positions and sizes in
 * 150 dpi units; a negative left or top is measured from the opposite edge. */
#pragma pack(push, 1)
typedef struct OcrZone {
    int32_t left;
    int32_t top;
    int32_t width;  /* 0: up to the right edge */
    int32_t height; /* 0: up to the bottom edge */
    int16_t side;   /* 0 rear, 1 front */
    int16_t font;   /* -1: no reading; after a read, the font that read */
    int16_t spaces; /* above 0: blanks are kept */
    int16_t count;  /* out: characters read */
} OcrZone;
typedef struct OcrZoneList {
    int16_t expectedWidth;  /* 0: no check */
    int16_t expectedHeight; /* 0: no check */
    int16_t count;          /* at most 20 */
    int16_t rotation;       /* 0, 256, 512 or 768 */
    OcrZone zones[20];
} OcrZoneList;
#pragma pack(pop)

/* Creates the image buffers for a scan at these resolutions (0: the side is
 * not wanted). */
KVX_API KVXResult KVXImgCreate(int handle, int16_t dpiFront, int16_t dpiRear);
KVX_API KVXResult KVXImgCreate1(int handle, int16_t dpiFront, int16_t dpiRear,
                                int16_t dpiBacklight);
/* Stores the resolutions; the next asynchronous scan creates the images. */
KVX_API KVXResult KVXImgCreate1Async(int handle, int16_t dpiFront, int16_t dpiRear,
                                     int16_t dpiBacklight);
KVX_API KVXResult KVXImgFree(int handle);
/* Scans one document; with zones, reads them into codeline and confidence
 * (length bytes each). */
KVX_API KVXResult KVXImgScan1(int handle, OcrZoneList* zones, char* codeline, char* confidence,
                              int16_t length);
KVX_API KVXResult KVXImgScan(int handle, OcrZoneList* zones, BSTR* codeline, BSTR* confidence);
/* Asynchronous scan driven by *status: 0 starts it (status 2 once
 * started), any other value polls (status 3 once finished, the scan's
 * result returned). */
KVX_API KVXResult KVXImgScan1Async(int handle, OcrZoneList* zones, char* codeline, char* confidence,
                                   int16_t length, int16_t* status);
KVX_API KVXResult KVXImgScanAsync(int handle, OcrZoneList* zones, BSTR* codeline, BSTR* confidence,
                                  int16_t* status);
/* Moves paper without keeping an image: for a time (direction > 0
 * forward), or by a length in lines at a resolution. */
KVX_API KVXResult KVXMoveScanner(int handle, int16_t direction, int32_t timeMs);
KVX_API KVXResult KVXMoveScanner_mSec(int handle, int16_t direction, int16_t endOption,
                                      int32_t timeMs);
KVX_API KVXResult KVXMoveScannerLines(int handle, int16_t direction, int16_t lines, int16_t dpi);
/* Pre-feeds a document on feeder models; always 0. */
KVX_API KVXResult KVXPreScan(int handle, int16_t timeMs);
/* set > 0 stops running work and makes every scan and movement fail with
 * -19 until it is called again with set <= 0. */
KVX_API KVXResult KVXStop(int handle, int16_t set);
/* Clears the stop request. */
KVX_API KVXResult KVXScanEnable(int handle, int16_t ignored);
/* The acquired height of a side (0, 1, 2, 8, 9) in lines at dpi; 0 on a
 * bad side or dpi. Leaves the last result alone. */
KVX_API uint16_t KVXGetAcqHeight(int handle, int16_t side, int16_t dpi);
/* The resolutions of a mode forced by parameter; each pointer may be null. */
KVX_API KVXResult KVXGetForcedRes(int handle, int16_t* dpiFrontH, int16_t* dpiRearH,
                                  int16_t* dpiFrontV, int16_t* dpiRearV);
/* Brightness and contrast of the front and rear images, -100..100. */
KVX_API KVXResult KVXBrightness(int handle, int16_t front, int16_t rear);
KVX_API KVXResult KVXContrast(int handle, int16_t front, int16_t rear);

/* ---- Image retrieval and elaboration ----------------------------------- */

/* Side codes: 0 rear, 1 front, 2 backlight, 8 the side opposite to the
 * codeline side, 9 the codeline side.
 *
 * The request word: the format in bits 0..3 (KVX_FMT_*), the rotation in
 * bits 8..10 (KVX_ROT_*), KVX_FLIP turns the image upside down, KVX_RGB
 * orders 24-bit pixels R, G, B instead of B, G, R. The value that goes with
 * it is the JPEG quality (1..100, or KVX_AUTO_QUALITY) for formats 0 and 6
 * and the bits per pixel (0 = as scanned, 1, 8 or 24) for the others. */
#define KVX_FMT_JPEG 0
#define KVX_FMT_TIFF_G3 1
#define KVX_FMT_TIFF_G4 2
#define KVX_FMT_TIFF_LZW 3
#define KVX_FMT_BMP 4
#define KVX_FMT_TIFF 5
#define KVX_FMT_TIFF_JPEG 6
#define KVX_FMT_PDF_JPEG 7 /* files only */
#define KVX_FMT_PNG 8
#define KVX_FMT_PDF_TIFF 9 /* files only */
#define KVX_ROT_CW 0x100
#define KVX_ROT_HALF 0x200
#define KVX_ROT_CCW 0x300
#define KVX_ROT_AUTO 0x400
#define KVX_FLIP 0x800
#define KVX_RGB 0x1000
#define KVX_AUTO_QUALITY 999

/* A region of an image. Accepted and not used: images always come whole. */
typedef struct KVXRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
} KVXRect;

/* The image descriptor of the rear or the front: the size of the last scan
 * at the resolution asked for and the image KVXGetElabImg2 keeps for it.
 * Its address is the image handle of the descriptor functions. */
typedef struct KVXImgDescriptor {
    int32_t width;
    int32_t height;
    int32_t paddedWidth; /* width + 7 */
    uint8_t* image;
} KVXImgDescriptor;

/* The side as an image of the request: a BMP file image, or the encoded
 * file, at the side's resolution. *length receives its bytes. Null on
 * failure (the last result says why). Free it with KVXImgGetFree. */
KVX_API uint8_t* KVXImgGet(int handle, int16_t side, const KVXRect* region, int16_t value,
                           int16_t request, int32_t* length);
/* Two calls: with a null destination the image is built, kept, and its
 * length returned; with a destination the kept image is copied there and
 * released. Returns the length, or a negative result. */
KVX_API int32_t KVXImgGet2(int handle, int16_t side, const KVXRect* region, int16_t value,
                           int16_t request, uint8_t* destination);
/* As KVXImgGet2 with the elaboration options, the format, the rotation, the
 * resolution (0: the side's) and the bits per pixel given apart. */
KVX_API int32_t KVXImgGet3(int handle, int16_t side, int16_t optionA, int16_t optionB,
                           const KVXRect* region, int16_t quality, int16_t format, int16_t rotation,
                           int16_t dpi, int16_t bitsPerPixel, uint8_t* destination);
/* Both sides in one image, the first above the second. */
KVX_API uint8_t* KVXImgGetFR(int handle, int16_t firstSide, int16_t secondSide, int16_t value,
                             int16_t request, int32_t* length);
KVX_API uint8_t* KVXImgGet3FR(int handle, int16_t firstSide, int16_t firstOptionA,
                              int16_t firstOptionB, int16_t secondSide, int16_t secondOptionA,
                              int16_t secondOptionB, int16_t quality, int16_t format,
                              int16_t rotation, int16_t dpi, int16_t bitsPerPixel, int32_t* length);
/* Releases an image the retrieval functions returned. Returns 0, or -3 for
 * a pointer the library did not hand out. */
KVX_API KVXResult KVXImgGetFree(int handle, uint8_t* image);

/* The retrieval brightness and contrast of a side, -100..100. */
KVX_API KVXResult KVXElabImgBrightness(int handle, KVXImgDescriptor* image, int16_t value);
KVX_API KVXResult KVXElabImgContrast(int handle, KVXImgDescriptor* image, int16_t value);
/* side 0 or 1 */
KVX_API KVXResult KVXImgBright(int handle, int16_t side, int16_t value);
KVX_API KVXResult KVXImgContr(int handle, int16_t side, int16_t value);
/* side 0, 1, 8 or 9 */
KVX_API KVXResult KVXElabImgBright2(int handle, int16_t side, int16_t value);
KVX_API KVXResult KVXElabImgContr2(int handle, int16_t side, int16_t value);

/* Creates the images (as KVXImgCreate) and returns the rear descriptor;
 * the front descriptor follows it (rear + 1). Null on failure. */
KVX_API KVXImgDescriptor* KVXCreateImgStruct(int handle, int16_t dpiFront, int16_t dpiRear);
/* Frees the images; image must be the rear descriptor. */
KVX_API KVXResult KVXFreeImgStruct(int handle, KVXImgDescriptor* image);
/* Scans like KVXImgScan and fills both descriptors; image is null or the
 * rear descriptor. */
KVX_API KVXResult KVXRead(int handle, OcrZoneList* zones, KVXImgDescriptor* image, BSTR* codeline,
                          BSTR* confidence);
/* KVXImgGet for the descriptor's side. */
KVX_API uint8_t* KVXGetElabImgStruct(int handle, KVXImgDescriptor* image, const KVXRect* region,
                                     int16_t value, int16_t request, int32_t* length);
/* The descriptor's side as R, G, B pixels (rows of paddedWidth pixels), at
 * the side's resolution. Free it with KVXFreeElabImgStruct. */
KVX_API uint8_t* KVXGetElabImg(KVXImgDescriptor* image);
/* The side (0, 1, 8, 9) as a JPEG of quality 4, kept in its descriptor
 * until KVXFreeImgStr2 or the next call; its size from the descriptor. */
KVX_API uint8_t* KVXGetElabImg2(int handle, int16_t side, int16_t* height, int16_t* width);
/* Releases an image of the descriptor functions; a descriptor itself is
 * left alone. Returns 0, or -3 for a pointer the library did not hand out. */
KVX_API KVXResult KVXFreeElabImgStruct(int handle, void* image);
/* As KVXImgCreate. */
KVX_API KVXResult KVXCreateImgStr2(int handle, int16_t dpiFront, int16_t dpiRear);
/* Releases the image kept in the side's (0, 1, 8, 9) descriptor. */
KVX_API KVXResult KVXFreeImgStr2(int handle, int16_t side);
/* Stores a region for the descriptor functions (not used). */
KVX_API KVXResult KVXRoiImgStr2(int handle, int16_t left, int16_t top, int16_t right,
                                int16_t bottom);

/* 6 (KVX_WAR_BLANK_PAGE) when no line of the side has more than
 * pixThreshold / 1000 of its width darker than darkLevel, 0 when it has,
 * -3 on bad arguments. pixThreshold 0..100, darkLevel 0..255. */
KVX_API KVXResult KVXIsPageBlank(int handle, int16_t side, int16_t pixThreshold, int16_t darkLevel);
/* Hands the two image files to the image-quality component. */
KVX_API KVXResult KVXIQACheck(int handle, const char* frontFile, const char* rearFile);

/* ---- Saving images ------------------------------------------------------ */

/* Each writes one file (side codes, request word and value as above;
 * formats 7 and 9 write a PDF) and returns the last result: 0, -3 for a
 * refused request, -5 when the file cannot be written. A file is complete
 * when it appears under its name; a failure leaves no file of that name
 * behind. The four region values are accepted and not used. */
KVX_API KVXResult KVXImgSave(int handle, int16_t side, const KVXRect* region, int16_t value,
                             int16_t request, const char* fileName);
KVX_API KVXResult KVXImgSave2(int handle, int16_t side, int16_t left, int16_t top, int16_t right,
                              int16_t bottom, int16_t value, int16_t request, const char* fileName);
KVX_API KVXResult KVXImgSave3(int handle, int16_t side, int16_t optionA, int16_t optionB,
                              int16_t left, int16_t top, int16_t right, int16_t bottom,
                              int16_t quality, int16_t format, int16_t rotation, int16_t dpi,
                              int16_t bitsPerPixel, const char* fileName);
KVX_API KVXResult KVXImgSave4(int handle, int16_t side, int16_t left, int16_t top, int16_t right,
                              int16_t bottom, int16_t value, int16_t format, int16_t rotation,
                              const char* fileName);
/* channel: 8 infrared, 16 ultraviolet. */
KVX_API KVXResult KVXImgSaveCol(int handle, int16_t side, const KVXRect* region, int16_t value,
                                int16_t request, int16_t channel, const char* fileName);
/* Both sides in one image, the first above the second. */
KVX_API KVXResult KVXImgSaveFR(int handle, int16_t firstSide, int16_t secondSide, int16_t value,
                               int16_t request, const char* fileName);
KVX_API KVXResult KVXImgSaveFR2(int handle, int16_t firstSide, int16_t secondSide, int16_t value,
                                int16_t format, int16_t rotation, int16_t dpi, int16_t bitsPerPixel,
                                const char* fileName);
KVX_API KVXResult KVXImgSave3FR(int handle, int16_t firstSide, int16_t firstOptionA,
                                int16_t firstOptionB, int16_t secondSide, int16_t secondOptionA,
                                int16_t secondOptionB, int16_t value, int16_t format,
                                int16_t rotation, int16_t dpi, int16_t bitsPerPixel,
                                const char* fileName);
/* The descriptor's side. */
KVX_API KVXResult KVXSaveImgStruct(int handle, KVXImgDescriptor* image, const KVXRect* region,
                                   int16_t value, int16_t request, const char* fileName);
/* As KVXImgSave for the open device; no handle. */
KVX_API KVXResult KVXSaveImgStruct2(int16_t side, const KVXRect* region, int16_t value,
                                    int16_t request, const char* fileName);
/* side 0, 1, 8 or 9 */
KVX_API KVXResult KVXSaveImgStr2(int handle, int16_t side, int16_t value, int16_t request,
                                 const char* fileName);
/* The two descriptors' sides in one image. */
KVX_API KVXResult KVXSaveFrontRear(int handle, KVXImgDescriptor* first, KVXImgDescriptor* second,
                                   int16_t value, int16_t request, const char* fileName);

/* ---- Multipage files ----------------------------------------------------- */

/* One multipage file at a time: TIFF (format 1, 2, 3, 5, 6) or PDF (7, 9).
 * KVXMultiPageInit takes JPEG quality 60. Each added image file (JPEG,
 * TIFF, PNG or BMP) becomes a page; KVXMultiPageClose completes the file,
 * which appears under its name only then. */
KVX_API KVXResult KVXMultiPageInit(int handle, const char* fileName, int16_t format);
KVX_API KVXResult KVXMultiPageInit0(int handle, const char* fileName, int16_t format,
                                    int16_t quality);
KVX_API KVXResult KVXMultiPageAdd(int handle, const char* imageFile);
KVX_API KVXResult KVXMultiPageClose(int handle);

/* ---- Calibration and cleaning ------------------------------------------- */
/* Calibrates every mode with the calibration sheet: 0, 10 when the sensors
 * want cleaning after it, -22 or -23 when it failed (the files of the last
 * good calibration stay), -19 on a stop. */
KVX_API KVXResult KVXCalibrate(int handle);
/* 0 when every mode is calibrated, 5 when one is missing. */
KVX_API KVXResult KVXCheckCalibration(int handle);
/* Runs the cleaning sheet through: 0, or -10 when no sheet arrives. */
KVX_API KVXResult KVXClean(int handle);
/* 10 when a calibrated device's sensors want cleaning, else 0. */
KVX_API KVXResult KVXCheckCleaning(int handle);

/* ---- Magnetic stripe ---------------------------------------------------- */

/* Flags of a read: what each returned track text leaves out. Without the
 * end sentinel but with the LRC, the LRC takes the end sentinel's place. */
#define KVX_MS_NO_START_SENTINEL 0x1
#define KVX_MS_NO_END_SENTINEL 0x2
#define KVX_MS_NO_LRC 0x4

/* enable > 0 switches the swipe reader on, otherwise off. A device without
 * a reader makes it a successful no-op. */
KVX_API KVXResult KVXMagStripeEnable(int handle, int16_t enable);
/* Empties the reader's buffer of swiped tracks; -15 without a reader. */
KVX_API KVXResult KVXMagStripeReset(int handle);
/* Waits for a swipe (parameter 101, in ms; -10 when none comes), reads and
 * decodes tracks 1 to 3 and stores each text into its BSTR, also after an
 * error. A track that does not decode (-70 to -75, the first such result is
 * returned) comes back empty; the others still come back. -15 on a device
 * without a reader. */
KVX_API KVXResult KVXMagStripe(int handle, BSTR* track1, BSTR* track2, BSTR* track3, int flags);
/* The same, keeping the texts in the library for KVXMagStripeData. */
KVX_API KVXResult KVXMagStripeTrackRead(int handle, int flags);
/* The text of track 1, 2 or 3 from the last read into buf (cleared for len
 * bytes first); another track gives 0 and an empty buffer. -31 when the
 * text and its terminator do not fit. */
KVX_API KVXResult KVXMagStripeData(int handle, int16_t track, int16_t len, char* buf);
/* Does nothing; returns 0. */
KVX_API KVXResult KVXMagStripeTrackClear(int handle);

/* ---- Endorsement printing -------------------------------------------------- */

/* Set-ups of the type 1 printer (a 12-dot printhead): the stamp is the text
 * in the font ("name.fnt" of the configuration directory, else a system
 * face) at size points, or the 8-bit grey bitmap file; density is added to
 * the printer's own, offset (1/100 inch) moves the stamp along the document,
 * keep reuses the composed stamp for the next documents, fire sets the
 * firing, mirror > 0 turns the stamp by 180 degrees. An empty text arms
 * nothing and returns 0. -15 without a ready printer, -3 for a bad argument
 * or an unusable stamp. The stamp is printed on each later document. */
KVX_API KVXResult KVXInkjet1SetUp(int handle, const char* text, const char* font, int16_t size,
                                  int16_t density, int16_t offset, int16_t keep);
KVX_API KVXResult KVXInkjet1SetUp1(int handle, const char* text, const char* font, int16_t size,
                                   int16_t density, int16_t offset, int16_t keep, int16_t fire);
KVX_API KVXResult KVXInkjet1SetUp2(int handle, const char* text, const char* font, int16_t size,
                                   int16_t density, int16_t offset, int16_t keep, int16_t fire,
                                   int16_t mirror);
KVX_API KVXResult KVXInkjet1SetUpImg(int handle, const char* bitmapFile, int16_t density,
                                     int16_t offset, int16_t keep, int16_t fire, int16_t mirror);
/* Set-ups of the type 2 printer (a TIJ2.5 cartridge): the cartridge is
 * checked first (-15 when it is missing or refused); the text is composed
 * 150 dots high (orientation non-zero: flipped left to right at the other
 * edge), or the bitmap file, 150 pixels wide, is taken as it is. reserved
 * is ignored. A scanned document whose stamp did not print whole returns
 * -81. */
KVX_API KVXResult KVXInkjet2SetUp(int handle, const char* text, const char* font, int16_t size,
                                  int16_t offset, int16_t reserved, int16_t fire,
                                  int16_t orientation);
KVX_API KVXResult KVXInkjet2SetUpImg(int handle, const char* bitmapFile, int16_t offset,
                                     int16_t reserved);

/* ---- Device list (this port's addition) -------------------------------- */

/* The scanners present, one line each: "VID\tPID\tserial\tpath\n" (VID and
 * PID as four hex digits), then a NUL. Opens no device. Returns the text's
 * length + 1 (also as a size query when len <= 0), or -1 (last result -3:
 * null or too small buffer, which then holds an empty text). */
KVX_API int KVXEnumerateDevices(char* buf, int len);

/* ---- Diagnostic log ---------------------------------------------------- */

/* The current log file path into a buffer of at least 260 bytes; empty when
 * logging is off. Begins the new day's file of a dated log. Returns 0. */
KVX_API KVXResult KVXLogFileName(char* buf);
KVX_API KVXResult KVXLogFileNameBSTR(BSTR* name);

/* ---- Configuration directory ------------------------------------------- */

/* The configuration directory into buf (at least 260 bytes). With handle 0
 * or -1 no device is needed. Returns 0, or -3 for a null buffer. */
KVX_API KVXResult KVXConfigDirGet(int handle, char* buf);
/* The configuration directory into *dir. With handle 0 no device is needed.
 * Returns 0, -3 (null dir) or -4. */
KVX_API KVXResult KVXConfigDirGetB(int handle, BSTR* dir);
/* Returns to the directory established at load and stores it into *dir
 * (when dir is not null). Returns the last result. */
KVX_API KVXResult KVXDefaultInitPath(BSTR* dir);
/* Returns to the directory established at load without any fallback.
 * Returns 0 or -1. */
KVX_API KVXResult KVXRestoreDefaultInitPath(void);

/* ---- Parameters --------------------------------------------------------- */

/* Values are 16-bit: the setter uses the low 16 bits of `value` as a signed
 * number. Setting needs an open device. */
KVX_API KVXResult KVXSetParameter(int parId, int value);
/* Writes the value into *value; -3 for an identifier that cannot be read
 * (the value is left unchanged) and for a null value. */
KVX_API KVXResult KVXGetParameter(int parId, int16_t* value);
/* The value zero-extended; 0xFFFF0000 for an identifier that cannot be read,
 * 0 when the call is refused. */
KVX_API uint32_t KVXGetParameter0(int parId);

#ifdef __cplusplus
}
#endif

#endif /* KOVRANMS_H */
