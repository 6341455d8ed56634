/* QEMU TCG plugin: counts the guest instructions a user-mode program executes and prints
 * "instructions <n>" to stderr at exit. Deterministic for a deterministic program, unlike
 * the emulator's wall-clock time. Each translated block adds its instruction count when it
 * runs (an inline add, no callback), so a block left early by a fault would be over-counted;
 * the benchmarked routines fault nowhere. Counts all threads together; the counting program
 * runs one thread. */
#include <inttypes.h>
#include <stdio.h>

#include "QemuPluginApi.h"

QEMU_PLUGIN_EXPORT int qemu_plugin_version = QEMU_PLUGIN_VERSION;

static uint64_t executed;

static void onTranslate(qemu_plugin_id_t id, struct qemu_plugin_tb* block) {
    (void)id;
    qemu_plugin_register_vcpu_tb_exec_inline(block, QEMU_PLUGIN_INLINE_ADD_U64, &executed,
                                             qemu_plugin_tb_n_insns(block));
}

static void onExit(qemu_plugin_id_t id, void* unused) {
    (void)id;
    (void)unused;
    char line[64];
    snprintf(line, sizeof line, "instructions %" PRIu64 "\n", executed);
    qemu_plugin_outs(line);
}

QEMU_PLUGIN_EXPORT int qemu_plugin_install(qemu_plugin_id_t id, const qemu_info_t* info,
                                           int argc, char** argv) {
    (void)info;
    (void)argc;
    (void)argv;
    qemu_plugin_register_vcpu_tb_trans_cb(id, onTranslate);
    qemu_plugin_register_atexit_cb(id, onExit, NULL);
    return 0;
}
