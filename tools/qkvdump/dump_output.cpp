#include "tools/qkvdump/dump_output.h"

#include <cerrno>
#include <cstring>

void dump_output_not_written(const OutputTarget* target, const char* why)
{
    if (target->writing) fprintf(stderr, "%s: no %s written: %s\n", target->path, target->what, why);
}

bool text_output_open(TextOutput* text, OutputTarget* target)
{
    *text = TextOutput{};
    text->file = output_target_open(target);
    return text->file != nullptr;
}

void text_output_fail(TextOutput* text, int error)
{
    if (text->failed) return;
    text->failed = true;
    text->error = error;
}

bool text_output_close(TextOutput* text, OutputTarget* target, bool keep)
{
    if (fclose(text->file) != 0) text_output_fail(text, errno);
    text->file = nullptr;
    if (text->failed) {
        output_target_finish(target, false);
        fprintf(stderr, "%s: cannot write: %s\n", target->path, strerror(text->error));
        return false;
    }
    return output_target_finish(target, keep);
}
