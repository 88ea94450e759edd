// The interface between the core and its progress-dialog module. The module
// (built with Qt Widgets) is loaded only when a batch asks for progress, so
// programs that never do, such as the command-line tool, never load Qt.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct MK_ProgressHooks {
    void *context;
    /* Copies the status text (NUL-terminated, cut to size) and the percent
     * (0..100); returns 1 once the work has ended. Called on the dialog's
     * thread. */
    int32_t (*poll)(void *context, char *status, size_t size, int32_t *percent);
    /* Asks the work to stop before its next file. */
    void (*cancel)(void *context);
} MK_ProgressHooks;

/* Shows the modal dialog "Stamping..." owned by `parent` (an opaque window
 * handle of the caller, or null) until poll reports the end. Returns 0 when
 * the dialog ran, 1 when no dialog can be shown (no display). */
typedef int32_t (*MK_ProgressDialogRunFn)(void *parent, const MK_ProgressHooks *hooks);

#define MK_PROGRESS_MODULE "libMK_ProgressDialog.so"
#define MK_PROGRESS_ENTRY "MK_ProgressDialogRun"

#ifdef __cplusplus
}
#endif
