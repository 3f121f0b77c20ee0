// The header of a classic NetCDF file (CDF-1, CDF-2 and CDF-5), walked before the netCDF
// library sees the file. The library trusts the header's counts and sizes: it allocates
// what a count claims before it finds that the file cannot hold it, and copies names of
// any length. Here every count, name and size is held against the bytes the file has.
#include <netcdf.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fieldio/field_import_readers.h"
#include "media/regular_file.h"

namespace flowloom::import_detail {

namespace {

constexpr uint32_t kTagDimension = 0x0A;
constexpr uint32_t kTagVariable = 0x0B;
constexpr uint32_t kTagAttribute = 0x0C;

// Bytes of one value of a classic type, 0 for a type the format does not have.
int TypeBytes(uint32_t type, int version) {
    switch (type) {
        case 1:  // byte
        case 2:  // char
            return 1;
        case 3:  // short
            return 2;
        case 4:  // int
        case 5:  // float
            return 4;
        case 6:  // double
            return 8;
        case 7:  // unsigned byte, and the types below: CDF-5 only
            return version == 5 ? 1 : 0;
        case 8:
            return version == 5 ? 2 : 0;
        case 9:
            return version == 5 ? 4 : 0;
        case 10:
        case 11:
            return version == 5 ? 8 : 0;
        default:
            return 0;
    }
}

uint64_t Pad4(uint64_t n) {
    return n > UINT64_MAX - 3 ? UINT64_MAX : n + (4 - n % 4) % 4;
}

// a * b, or UINT64_MAX when that does not fit.
uint64_t Times(uint64_t a, uint64_t b) {
    if (a != 0 && b > UINT64_MAX / a) return UINT64_MAX;
    return a * b;
}

uint64_t Plus(uint64_t a, uint64_t b) {
    return b > UINT64_MAX - a ? UINT64_MAX : a + b;
}

struct Dimension {
    uint64_t length = 0;  // 0: the record (unlimited) dimension
};

struct Variable {
    std::string name;
    std::vector<uint64_t> dims;
    int type_bytes = 0;
    uint64_t begin = 0;
};

// Reads the header from the bytes of the file's head; every read is checked against what
// was read, and every count against what the whole file could hold.
class HeaderWalk {
public:
    HeaderWalk(const std::vector<unsigned char>& head, uint64_t file_bytes) : head_(head), file_bytes_(file_bytes) {}

    bool Run(std::string& error);

private:
    bool Fail(const std::string& what) {
        if (error_.empty()) error_ = what;
        return false;
    }
    bool Need(uint64_t bytes, const char* what) {
        if (bytes <= head_.size() - at_) return true;
        return Fail(std::string("the header breaks off inside ") + what);
    }
    bool Word(int bytes, uint64_t& value, const char* what) {
        if (!Need(static_cast<uint64_t>(bytes), what)) return false;
        value = 0;
        for (int i = 0; i < bytes; ++i) value = value << 8 | head_[at_++];
        return true;
    }
    bool Count(uint64_t& value, const char* what) { return Word(count_bytes_, value, what); }
    // A list of `count` entries of at least `least` bytes each must fit in the file.
    bool Fits(uint64_t count, uint64_t least, const char* what) {
        if (Times(count, least) <= file_bytes_ - at_) return true;
        return Fail("the header claims " + std::to_string(count) + " " + what + ", more than the file's " +
                    std::to_string(file_bytes_) + " bytes can hold");
    }
    bool Name(std::string& name, const char* what);
    bool ListTag(uint32_t expected, uint64_t& count, const char* what);
    bool Attributes(const std::string& owner);

    const std::vector<unsigned char>& head_;
    const uint64_t file_bytes_;
    std::size_t at_ = 0;
    int version_ = 0;
    int count_bytes_ = 4;
    std::string error_;
};

bool HeaderWalk::Name(std::string& name, const char* what) {
    uint64_t length = 0;
    if (!Count(length, what)) return false;
    if (length > NC_MAX_NAME) {
        return Fail(std::string("the header holds a name of ") + std::to_string(length) + " bytes (" + what +
                    "); names have at most " + std::to_string(NC_MAX_NAME));
    }
    if (!Need(Pad4(length), what)) return false;
    name.assign(reinterpret_cast<const char*>(head_.data() + at_), static_cast<std::size_t>(length));
    at_ += static_cast<std::size_t>(Pad4(length));
    return true;
}

// A list starts with its tag and count, or with two zeros when it is absent.
bool HeaderWalk::ListTag(uint32_t expected, uint64_t& count, const char* what) {
    uint64_t tag = 0;
    if (!Word(4, tag, what) || !Count(count, what)) return false;
    if (tag == 0 && count == 0) return true;
    if (tag != expected) return Fail(std::string("the header's list of ") + what + " has a wrong tag");
    return true;
}

bool HeaderWalk::Attributes(const std::string& owner) {
    uint64_t count = 0;
    if (!ListTag(kTagAttribute, count, "attributes")) return false;
    if (!Fits(count, 2 * static_cast<uint64_t>(count_bytes_) + 8, ("attributes of " + owner).c_str())) return false;
    for (uint64_t a = 0; a < count; ++a) {
        std::string name;
        uint64_t type = 0, values = 0;
        if (!Name(name, "an attribute name") || !Word(4, type, "an attribute") || !Count(values, "an attribute"))
            return false;
        const int bytes = TypeBytes(static_cast<uint32_t>(type), version_);
        if (bytes == 0) return Fail("attribute " + QuoteFileText(name) + " of " + owner + " has an unknown type");
        const uint64_t size = Times(values, static_cast<uint64_t>(bytes));
        if (size == UINT64_MAX || Pad4(size) > head_.size() - at_) {
            return Fail("attribute " + QuoteFileText(name) + " of " + owner + " claims " + std::to_string(values) +
                        " values, more than the file holds");
        }
        at_ += static_cast<std::size_t>(Pad4(size));
    }
    return true;
}

bool HeaderWalk::Run(std::string& error) {
    if (head_.size() < 4 || head_[0] != 'C' || head_[1] != 'D' || head_[2] != 'F') {
        error = "is no classic NetCDF file";
        return false;
    }
    version_ = head_[3];
    if (version_ != 1 && version_ != 2 && version_ != 5) {
        error = "has an unknown classic NetCDF version " + std::to_string(version_);
        return false;
    }
    at_ = 4;
    count_bytes_ = version_ == 5 ? 8 : 4;
    const int vsize_bytes = version_ == 5 ? 8 : 4;
    const int offset_bytes = version_ == 1 ? 4 : 8;

    bool ok = true;
    uint64_t records = 0;
    ok = ok && Count(records, "the record count");
    // A file being written may leave the count open; the library then counts the records itself.
    const bool streaming = records == (count_bytes_ == 8 ? UINT64_MAX : 0xFFFFFFFFu);
    if (streaming) records = 0;

    std::vector<Dimension> dims;
    uint64_t count = 0;
    int record_dim = -1;
    ok = ok && ListTag(kTagDimension, count, "dimensions") && Fits(count, 2 * count_bytes_ + 4, "dimensions");
    for (uint64_t d = 0; ok && d < count; ++d) {
        std::string name;
        Dimension dim;
        ok = Name(name, "a dimension name") && Count(dim.length, "a dimension");
        if (ok && dim.length == 0) {
            if (record_dim >= 0) ok = Fail("the header has more than one unlimited dimension");
            record_dim = static_cast<int>(d);
        }
        dims.push_back(dim);
    }
    ok = ok && Attributes("the file");

    std::vector<Variable> vars;
    ok = ok && ListTag(kTagVariable, count, "variables") &&
         Fits(count, 3 * static_cast<uint64_t>(count_bytes_) + 12 + vsize_bytes + offset_bytes, "variables");
    for (uint64_t v = 0; ok && v < count; ++v) {
        Variable var;
        uint64_t ndims = 0, type = 0, vsize = 0;
        ok = Name(var.name, "a variable name") && Count(ndims, "a variable");
        if (!ok) break;
        const std::string owner = "variable " + QuoteFileText(var.name);
        if (ndims > NC_MAX_VAR_DIMS) {
            ok = Fail(owner + " has " + std::to_string(ndims) + " dimensions; at most " +
                      std::to_string(NC_MAX_VAR_DIMS) + " are allowed");
            break;
        }
        ok = Fits(ndims, count_bytes_, "dimension ids");
        for (uint64_t k = 0; ok && k < ndims; ++k) {
            uint64_t id = 0;
            ok = Count(id, "a variable's dimensions");
            if (ok && id >= dims.size())
                ok = Fail(owner + " refers to dimension " + std::to_string(id) + ", which does not exist");
            if (ok) var.dims.push_back(id);
        }
        ok = ok && Attributes(owner) && Word(4, type, "a variable") && Word(vsize_bytes, vsize, "a variable") &&
             Word(offset_bytes, var.begin, "a variable");
        if (!ok) break;
        var.type_bytes = TypeBytes(static_cast<uint32_t>(type), version_);
        if (var.type_bytes == 0) ok = Fail(owner + " has an unknown type");
        vars.push_back(var);
    }
    if (!ok) {
        error = error_;
        return false;
    }

    // The data: every variable must begin behind the header and end inside the file. A
    // record variable's data of one record follows that of the others; the last record
    // ends its data.
    const uint64_t header_end = at_;
    auto bytes_of = [&](const Variable& var, bool& record) {
        record = !var.dims.empty() && static_cast<int>(var.dims[0]) == record_dim;
        uint64_t bytes = static_cast<uint64_t>(var.type_bytes);
        for (std::size_t k = record ? 1 : 0; k < var.dims.size(); ++k) bytes = Times(bytes, dims[var.dims[k]].length);
        return bytes;
    };
    uint64_t record_bytes = 0;
    int record_vars = 0;
    for (const Variable& var : vars) {
        bool record = false;
        const uint64_t bytes = bytes_of(var, record);
        if (!record) continue;
        // A single record variable is not padded between records.
        record_bytes = ++record_vars == 1 ? bytes : Plus(Pad4(record_bytes), Pad4(bytes));
    }
    for (const Variable& var : vars) {
        bool record = false;
        uint64_t bytes = bytes_of(var, record);
        if (record) bytes = records == 0 ? 0 : Plus(Times(records - 1, record_bytes), bytes);
        const std::string owner = "variable " + QuoteFileText(var.name);
        if (bytes > 0 && var.begin < header_end) {
            error = owner + "'s data begins at byte " + std::to_string(var.begin) + ", inside the header (" +
                    std::to_string(header_end) + " bytes)";
            return false;
        }
        if (bytes > 0 && (var.begin > file_bytes_ || bytes > file_bytes_ - var.begin)) {
            error = "is cut short: " + owner + " needs " +
                    (bytes == UINT64_MAX ? std::string("more than 2^64") : std::to_string(bytes)) +
                    " bytes from byte " + std::to_string(var.begin) + ", the file holds " + std::to_string(file_bytes_);
            return false;
        }
    }
    return true;
}

}  // namespace

bool CheckClassicNetcdfHeader(const std::vector<unsigned char>& head, uint64_t file_bytes, std::string& error) {
    HeaderWalk walk(head, file_bytes);
    return walk.Run(error);
}

bool CheckClassicNetcdfFile(const char* path, std::string& error) {
    long length = -1;
    std::FILE* file = OpenRegularFile(path, length);
    if (!file) {
        error = "cannot be opened";
        return false;
    }
    // The header comes first; it can be no longer than the file, and a header of more
    // than this holds more names and attributes than any grid file needs.
    const std::size_t head_bytes = static_cast<std::size_t>(std::min<long>(length, kMaxClassicHeaderBytes));
    std::vector<unsigned char> head(head_bytes);
    const bool read = std::fread(head.data(), 1, head.size(), file) == head.size();
    std::fclose(file);
    if (!read) {
        error = "cannot be read";
        return false;
    }
    HeaderWalk walk(head, static_cast<uint64_t>(length));
    if (walk.Run(error)) return true;
    if (head_bytes < static_cast<std::size_t>(length) && error.find("breaks off") != std::string::npos)
        error = "has a header longer than " + std::to_string(kMaxClassicHeaderBytes >> 20) + " MiB";
    return false;
}

}  // namespace flowloom::import_detail
