// A small DLL built the way motionapi is on Windows: exports only from a
// .def file, two of them under decorated aliases, all with the C calling
// convention. Its export table is checked like the real libraries'.
#include "qax_export.h"

extern "C" {
QAX_EXPORT_SYMBOL int QAX_CALL QAX_CT_Lock(int list) { return list - list; }
QAX_EXPORT_SYMBOL int QAX_CALL QAXT_STD_GetChannelWorkStatus(int channel) { return channel; }
QAX_EXPORT_SYMBOL int QAX_CALL QAX_Init(void) { return 0; }
}
