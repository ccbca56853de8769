#pragma once

// Rows for the data-file tests, and pxlib as an independent reader and writer of tables.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstring>
#include <string>
#include <vector>

#include "RecordRow.h"

extern "C" {
#include <paradox.h>
}

class VectorSource : public RecordSource {
public:
    explicit VectorSource(std::vector<RecordRow> rows) : rows_(std::move(rows)) {}
    int64_t rowCount() const override { return int64_t(rows_.size()); }
    RecordRow row(int64_t index) const override { return rows_[size_t(index)]; }

private:
    std::vector<RecordRow> rows_;
};

// Rows with the texts the decoders form, the widest included, and edge values of each field.
inline std::vector<RecordRow> sampleRows(int count) {
    static const char* const dcAc[] = {"DC", "AC", ""};
    static const char* const values[] = {"-1.234", "0.L", "1234", "-.0L", "", "-399.9", "12.34"};
    static const char* const units[] = {"V", "k*", "#", "uF", "MRPM", "unkm%MF*AVHz", "", "&*", ")V"};
    static const char* const autos[] = {"AUTO", "MANU"};
    static const double nvals[] = {1234, -1234, 0, 4000, -4001, 0.5, -0.25, 3999};
    std::vector<RecordRow> rows;
    for (int i = 0; i < count; ++i) {
        RecordRow r;
        r.no = i + 1;
        r.timeMs = i == 1 ? 86399999 : int32_t((int64_t(i) * 7919 + 123) % 86400000);
        r.dcAc = dcAc[i % 3];
        r.value = values[i % 7];
        r.unit = units[i % 9];
        r.autoText = autos[i % 2];
        r.nval = nvals[i % 8];
        rows.push_back(r);
    }
    return rows;
}

inline QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void quietPxErrors(pxdoc_t*, int, const char*, void*) {}

// Reads a table with pxlib; false when pxlib cannot open it or lacks a field.
inline bool pxlibRead(const QString& path, std::vector<RecordRow>& rows) {
    pxdoc_t* doc = PX_new3(quietPxErrors, nullptr, nullptr, nullptr, nullptr);
    if (!doc || PX_open_file(doc, QFile::encodeName(path).constData()) < 0) {
        if (doc) PX_delete(doc);
        return false;
    }
    const char* names[] = {"no", "time", "DC/AC", "value", "unit", "Auto", "Nval"};
    int offset[7], length[7];
    for (int k = 0; k < 7; ++k) offset[k] = -1;
    int at = 0;
    for (int i = 0; i < PX_get_num_fields(doc); ++i) {
        pxfield_t* f = PX_get_field(doc, i);
        for (int k = 0; k < 7; ++k) {
            if (QByteArray(f->px_fname).compare(names[k], Qt::CaseInsensitive) == 0) {
                offset[k] = at;
                length[k] = f->px_flen;
            }
        }
        at += f->px_flen;
    }
    bool ok = true;
    for (int k = 0; k < 7; ++k) ok = ok && offset[k] >= 0;
    std::vector<char> data(size_t(PX_get_recordsize(doc)));
    for (int i = 0; ok && i < PX_get_num_records(doc); ++i) {
        if (!PX_get_record(doc, i, data.data())) {
            ok = false;
            break;
        }
        RecordRow r;
        long l = 0;
        PX_get_data_long(doc, data.data() + offset[0], 4, &l);
        r.no = int32_t(l);
        l = 0;
        PX_get_data_long(doc, data.data() + offset[1], 4, &l);
        r.timeMs = int32_t(l);
        std::string* texts[] = {&r.dcAc, &r.value, &r.unit, &r.autoText};
        for (int k = 0; k < 4; ++k) {
            char* s = nullptr;
            if (PX_get_data_alpha(doc, data.data() + offset[2 + k], length[2 + k], &s) > 0 && s) {
                *texts[k] = std::string(s, strnlen(s, size_t(length[2 + k])));
                doc->free(doc, s);
            }
        }
        PX_get_data_double(doc, data.data() + offset[6], 8, &r.nval);
        rows.push_back(r);
    }
    PX_close(doc);
    PX_delete(doc);
    return ok;
}

// One field of a table pxlib writes: its name, type and length.
struct PxField {
    const char* name;
    char type;
    int length;
};

// Writes `rows` with pxlib in the given field layout; version 70 or 50, and a block size in KiB
// (0 keeps pxlib's choice).
inline bool pxlibWrite(const QString& path, const std::vector<PxField>& layout,
                       const std::vector<RecordRow>& rows, int version = 70, int blockK = 0) {
    pxdoc_t* doc = PX_new3(quietPxErrors, nullptr, nullptr, nullptr, nullptr);
    auto* fields = static_cast<pxfield_t*>(doc->malloc(doc, layout.size() * sizeof(pxfield_t), "fields"));
    for (size_t i = 0; i < layout.size(); ++i) {
        fields[i].px_fname = PX_strdup(doc, layout[i].name);
        fields[i].px_ftype = layout[i].type;
        fields[i].px_flen = layout[i].length;
        fields[i].px_fdc = 0;
    }
    if (PX_create_file(doc, fields, int(layout.size()), QFile::encodeName(path).constData(),
                       pxfFileTypNonIndexDB) < 0) {
        PX_delete(doc);
        return false;
    }
    doc->px_head->px_fileversion = version;
    if (blockK) doc->px_head->px_maxtablesize = blockK;
    std::vector<char> data(size_t(PX_get_recordsize(doc)));
    for (const RecordRow& r : rows) {
        char* p = data.data();
        for (const PxField& f : layout) {
            const QByteArray name = QByteArray(f.name).toLower();
            if (name == "no") {
                if (f.type == pxfShort)
                    PX_put_data_short(doc, p, 2, short(r.no));
                else if (f.type == pxfNumber)
                    PX_put_data_double(doc, p, 8, r.no);
                else
                    PX_put_data_long(doc, p, 4, r.no);
            } else if (name == "time") {
                PX_put_data_long(doc, p, 4, r.timeMs);
            } else if (name == "nval") {
                if (f.type == pxfLong)
                    PX_put_data_long(doc, p, 4, int(r.nval));
                else
                    PX_put_data_double(doc, p, 8, r.nval);
            } else if (f.type == pxfAlpha) {
                const std::string* text = name == "dc/ac"   ? &r.dcAc
                                          : name == "value" ? &r.value
                                          : name == "unit"  ? &r.unit
                                          : name == "auto"  ? &r.autoText
                                                            : nullptr;
                std::string s = text ? *text : std::string("extra");
                PX_put_data_alpha(doc, p, f.length, s.data());
            } else {
                std::memset(p, 0, size_t(f.length));
            }
            p += f.length;
        }
        if (PX_put_record(doc, data.data()) < 0) {
            PX_close(doc);
            PX_delete(doc);
            return false;
        }
    }
    PX_close(doc);
    PX_delete(doc);
    return true;
}
