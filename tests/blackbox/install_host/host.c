/* The smallest host program: built against an installed KovranMS (by the
 * install test, once through pkg-config and once through its CMake
 * package), it says which library it runs and scans one document. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>

#include <KovranMS.h>

static int Fail(const char* what) {
    char message[256] = "";
    KVXErrorMsg2((int)sizeof message, message);
    fprintf(stderr, "host: %s failed: %d %s\n", what, KVXGetLastResult(), message);
    return 1;
}

int main(void) {
    Dl_info info;
    if (dladdr((void*)&KVXVersion, &info) == 0 || info.dli_fname == NULL) return Fail("dladdr");
    printf("library %s\n", info.dli_fname);

    BSTR version = NULL;
    if (KVXVersion(0, &version) != KVX_OK) return Fail("KVXVersion");
    printf("version %s\n", (const char*)version);
    SysFreeString(version);

    const int handle = KVXInitialize(NULL);
    if (handle == -1) return Fail("KVXInitialize");
    if (KVXImgCreate(handle, 200, 200) != KVX_OK) return Fail("KVXImgCreate");
    if (KVXImgScan1(handle, NULL, NULL, NULL, 0) != KVX_OK) return Fail("KVXImgScan1");
    printf("scanned %u lines at 200 dpi\n", (unsigned)KVXGetAcqHeight(handle, 1, 200));
    KVXImgFree(handle);
    KVXClose(handle);
    return 0;
}
