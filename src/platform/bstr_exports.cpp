// The automation-string functions that hosts written for the OLE runtime
// call to read and release the library's strings.
#include "platform/bstr.h"

extern "C" {

BSTR SysAllocStringByteLen(const char* psz, unsigned int len) {
    return kovran::platform::AllocBstrBytes(psz, len);
}

void SysFreeString(BSTR bstr) {
    kovran::platform::FreeBstr(bstr);
}

unsigned int SysStringByteLen(BSTR bstr) {
    return kovran::platform::BstrByteLen(bstr);
}

}  // extern "C"
