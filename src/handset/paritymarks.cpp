#include "handset/paritymarks.h"

ParityMarks::Bytes ParityMarks::feed(QByteArrayView marked)
{
    const QByteArray input = held_ + marked.toByteArray();
    held_.clear();
    Bytes result;
    qsizetype i = 0;
    while (i < input.size()) {
        if (input[i] != '\xFF') {
            result.data.append(input[i++]);
            continue;
        }
        const qsizetype left = input.size() - i;
        if (left == 1 || (left == 2 && input[i + 1] == '\0')) {
            held_ = input.mid(i);
            break;
        }
        if (input[i + 1] == '\xFF') {
            result.data.append('\xFF');
            i += 2;
        } else if (input[i + 1] == '\0') {
            result.errors.append(result.data.size());
            result.data.append(input[i + 2]);
            i += 3;
        } else {
            // Not a mark after all: a plain FF.
            result.data.append(input[i++]);
        }
    }
    return result;
}
