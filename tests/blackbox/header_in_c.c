/* Hosts written in C include the public header: it must compile as plain
 * C99, the list of result codes included. */
#include "KovranMS.h"

#define KOVRAN_C_ROW(name, value, message) {name, #name, message},
static const struct {
    KVXResult code;
    const char* name;
    const char* message;
} kRows[] = {KVX_RESULT_CODES(KOVRAN_C_ROW)};
#undef KOVRAN_C_ROW

int KovranResultRowsSeenFromC(void) {
    return (int)(sizeof kRows / sizeof kRows[0]);
}
