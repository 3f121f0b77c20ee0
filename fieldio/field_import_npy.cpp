// NumPy arrays: .npy files and .npz archives (zip, members stored or deflated).
#include <zlib.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fieldio/field_import_readers.h"

namespace flowloom::import_detail {

namespace {

// A member of an archive is at most one 4000 x 4000 x 2 array of 8-byte numbers, plus its header.
constexpr uint64_t kMaxMemberBytes = 2ull * 4000 * 4000 * 8 + (1u << 20);
constexpr int kMaxMembers = 1000;

uint64_t Le(const unsigned char* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

// A parsed .npy header: element type, order, shape, and where the data starts.
struct NpyHeader {
    char kind = 0;  // 'f', 'i' or 'u'
    int item_bytes = 0;
    bool big_endian = false;
    bool fortran = false;
    std::vector<long long> shape;
    std::size_t data_offset = 0;
};

void SkipBlanks(const std::string& s, std::size_t& i) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n')) ++i;
}

// The text after "'key':" (or "\"key\":"), blanks skipped; npos when the key is absent.
std::size_t ValueOf(const std::string& header, const char* key) {
    for (const char quote : {'\'', '"'}) {
        const std::string quoted = quote + std::string(key) + quote;
        std::size_t i = header.find(quoted);
        if (i == std::string::npos) continue;
        i += quoted.size();
        SkipBlanks(header, i);
        if (i >= header.size() || header[i] != ':') return std::string::npos;
        ++i;
        SkipBlanks(header, i);
        return i;
    }
    return std::string::npos;
}

bool ParseDescr(const std::string& descr, NpyHeader& h) {
    if (descr.size() < 3) return false;
    const char order = descr[0];
    if (order != '<' && order != '>' && order != '|' && order != '=') return false;
    h.big_endian = order == '>';
    h.kind = descr[1];
    const std::string size = descr.substr(2);
    if (size != "1" && size != "2" && size != "4" && size != "8") return false;
    h.item_bytes = size[0] - '0';
    if (h.kind == 'f') return h.item_bytes == 4 || h.item_bytes == 8;
    return h.kind == 'i' || h.kind == 'u';
}

bool ParseNpyHeader(const unsigned char* data, std::size_t size, NpyHeader& h, std::string& error) {
    if (size < 10 || std::memcmp(data, "\x93NUMPY", 6)) {
        error = "the .npy header is truncated";
        return false;
    }
    const int major = data[6];
    std::size_t length = 0;
    std::size_t start = 0;
    if (major == 1) {
        length = static_cast<std::size_t>(Le(data + 8, 2));
        start = 10;
    } else if (major == 2 || major == 3) {
        if (size < 12) {
            error = "the .npy header is truncated";
            return false;
        }
        length = static_cast<std::size_t>(Le(data + 8, 4));
        start = 12;
    } else {
        error = "unknown .npy version " + std::to_string(major);
        return false;
    }
    if (length > size - start) {
        error = "the .npy header is truncated";
        return false;
    }
    const std::string header(reinterpret_cast<const char*>(data + start), length);
    h.data_offset = start + length;

    std::size_t i = ValueOf(header, "descr");
    if (i == std::string::npos || (header[i] != '\'' && header[i] != '"')) {
        error = "the .npy header has no element type";
        return false;
    }
    const std::size_t end = header.find(header[i], i + 1);
    if (end == std::string::npos) {
        error = "the .npy header is truncated";
        return false;
    }
    const std::string descr = header.substr(i + 1, end - i - 1);
    if (!ParseDescr(descr, h)) {
        error = "unknown dtype " + QuoteFileText(descr) + " (float32, float64 and integer types are read)";
        return false;
    }
    i = ValueOf(header, "fortran_order");
    if (i == std::string::npos) {
        error = "the .npy header has no fortran_order";
        return false;
    }
    h.fortran = header.compare(i, 4, "True") == 0;
    i = ValueOf(header, "shape");
    if (i == std::string::npos || header[i] != '(') {
        error = "the .npy header has no shape";
        return false;
    }
    for (++i;;) {
        SkipBlanks(header, i);
        if (i >= header.size()) {
            error = "the .npy header is truncated";
            return false;
        }
        if (header[i] == ')') break;
        if (header[i] == ',') {
            ++i;
            continue;
        }
        long long dim = 0;
        std::size_t digits = 0;
        while (i < header.size() && header[i] >= '0' && header[i] <= '9' && digits < 12) {
            dim = dim * 10 + (header[i] - '0');
            ++i;
            ++digits;
        }
        if (digits == 0 || digits >= 12 || h.shape.size() >= 8) {
            error = "the .npy shape cannot be read";
            return false;
        }
        h.shape.push_back(dim);
    }
    return true;
}

double Element(const unsigned char* p, const NpyHeader& h) {
    unsigned char b[8];
    for (int k = 0; k < h.item_bytes; ++k) b[k] = h.big_endian ? p[h.item_bytes - 1 - k] : p[k];
    const uint64_t bits = Le(b, h.item_bytes);
    if (h.kind == 'f') {
        if (h.item_bytes == 4) {
            float f;
            const uint32_t w = static_cast<uint32_t>(bits);
            std::memcpy(&f, &w, 4);
            return f;
        }
        double d;
        std::memcpy(&d, &bits, 8);
        return d;
    }
    if (h.kind == 'u') return static_cast<double>(bits);
    const int shift = 64 - 8 * h.item_bytes;  // sign-extend
    return static_cast<double>(static_cast<int64_t>(bits << shift) >> shift);
}

// The grid of a .npy array: H x W (a scalar), H x W x 2 or 2 x H x W (not interleaved).
bool GridShape(const NpyHeader& h, long long& width, long long& height, int& components, bool& interleaved,
               std::string& error) {
    const std::vector<long long>& s = h.shape;
    interleaved = false;
    if (s.size() == 2) {
        height = s[0];
        width = s[1];
        components = 1;
    } else if (s.size() == 3 && s[2] == 2) {
        height = s[0];
        width = s[1];
        components = 2;
        interleaved = true;
    } else if (s.size() == 3 && s[0] == 2) {
        height = s[1];
        width = s[2];
        components = 2;
    } else {
        std::string shape = "(";
        for (std::size_t k = 0; k < s.size(); ++k) shape += (k ? ", " : "") + std::to_string(s[k]);
        error = "the array's shape " + shape + ") is neither H x W, H x W x 2 nor 2 x H x W";
        return false;
    }
    return SideInRange(width, height, error);
}

// The array of a .npy image as a grid.
int NpyToGrid(const unsigned char* data, std::size_t size, ImportGrid& grid, std::string& error) {
    NpyHeader h;
    if (!ParseNpyHeader(data, size, h, error)) return 0;
    const std::vector<long long>& s = h.shape;
    long long height = 0, width = 0;
    int components = 0;
    bool interleaved = false;
    if (!GridShape(h, width, height, components, interleaved, error)) return 0;
    const uint64_t count = static_cast<uint64_t>(width) * height * components;
    if (count * h.item_bytes != size - h.data_offset) {
        error = "the shape needs " + std::to_string(count * h.item_bytes) + " bytes of data, the file holds " +
                std::to_string(size - h.data_offset);
        return 0;
    }
    grid.width = static_cast<int>(width);
    grid.height = static_cast<int>(height);
    grid.components = components;
    grid.values.resize(static_cast<std::size_t>(count));
    const unsigned char* body = data + h.data_offset;
    // Index of element (i0, i1, i2) of the stored array, in C or Fortran order.
    const long long n0 = s[0], n1 = s[1], n2 = s.size() == 3 ? s[2] : 1;
    auto stored = [&](long long i0, long long i1, long long i2) {
        return h.fortran ? i0 + n0 * (i1 + n1 * i2) : (i0 * n1 + i1) * n2 + i2;
    };
    for (long long r = 0; r < height; ++r) {
        for (long long c = 0; c < width; ++c) {
            for (int k = 0; k < components; ++k) {
                const long long index = components == 1 ? stored(r, c, 0)
                                        : interleaved   ? stored(r, c, k)
                                                        : stored(k, r, c);
                grid.values[static_cast<std::size_t>((r * width + c) * components + k)] =
                    Element(body + index * h.item_bytes, h);
            }
        }
    }
    return 1;
}

// One member of a zip archive, located through the central directory.
struct ZipMember {
    std::string name;
    int method = 0;
    uint32_t crc = 0;
    uint64_t packed = 0;
    uint64_t size = 0;
    uint64_t local_offset = 0;
};

bool ListZip(const std::vector<unsigned char>& z, std::vector<ZipMember>& members, std::string& error) {
    error = "the .npz archive is damaged";
    const std::size_t n = z.size();
    if (n < 22) return false;
    // The end record is the last thing in the file, followed by a comment of at most 64 KiB.
    std::size_t eocd = n - 22 + 1;
    const std::size_t lowest = n > 22 + 65535 ? n - 22 - 65535 : 0;
    do {
        --eocd;
        if (Le(&z[eocd], 4) == 0x06054b50) break;
    } while (eocd > lowest);
    if (Le(&z[eocd], 4) != 0x06054b50) return false;
    uint64_t entries = Le(&z[eocd + 10], 2);
    uint64_t cd_size = Le(&z[eocd + 12], 4);
    uint64_t cd_offset = Le(&z[eocd + 16], 4);
    if ((entries == 0xFFFF || cd_offset == 0xFFFFFFFF || cd_size == 0xFFFFFFFF) && eocd >= 20 &&
        Le(&z[eocd - 20], 4) == 0x07064b50) {
        const uint64_t record = Le(&z[eocd - 20 + 8], 8);
        if (record > n || n - record < 56 || Le(&z[record], 4) != 0x06064b50) return false;
        entries = Le(&z[record + 32], 8);
        cd_size = Le(&z[record + 40], 8);
        cd_offset = Le(&z[record + 48], 8);
    }
    if (cd_offset > n || cd_size > n - cd_offset || entries > kMaxMembers) return false;
    std::size_t at = static_cast<std::size_t>(cd_offset);
    const std::size_t cd_end = static_cast<std::size_t>(cd_offset + cd_size);
    for (uint64_t e = 0; e < entries; ++e) {
        if (cd_end - at < 46 || Le(&z[at], 4) != 0x02014b50) return false;
        ZipMember m;
        m.method = static_cast<int>(Le(&z[at + 10], 2));
        m.crc = static_cast<uint32_t>(Le(&z[at + 16], 4));
        m.packed = Le(&z[at + 20], 4);
        m.size = Le(&z[at + 24], 4);
        const std::size_t name_len = Le(&z[at + 28], 2), extra_len = Le(&z[at + 30], 2),
                          comment_len = Le(&z[at + 32], 2);
        m.local_offset = Le(&z[at + 42], 4);
        if (cd_end - at - 46 < name_len + extra_len + comment_len) return false;
        m.name.assign(reinterpret_cast<const char*>(&z[at + 46]), name_len);
        // Sizes and offset that do not fit 32 bits live in the zip64 extra field, in this order.
        for (std::size_t x = at + 46 + name_len; x + 4 <= at + 46 + name_len + extra_len;) {
            const uint64_t id = Le(&z[x], 2), len = Le(&z[x + 2], 2);
            if (x + 4 + len > at + 46 + name_len + extra_len) return false;
            if (id == 1) {
                std::size_t p = x + 4;
                for (uint64_t* field : {&m.size, &m.packed, &m.local_offset}) {
                    if (*field != 0xFFFFFFFF) continue;
                    if (p + 8 > x + 4 + len) return false;
                    *field = Le(&z[p], 8);
                    p += 8;
                }
            }
            x += 4 + len;
        }
        members.push_back(m);
        at += 46 + name_len + extra_len + comment_len;
    }
    // The end record's count and the directory must agree: a member left uncounted would
    // make a pair of arrays read as a single one.
    if (at != cd_end) {
        error = "the .npz archive is damaged: its end record counts " + std::to_string(entries) +
                (entries == 1 ? " member" : " members") + ", its directory holds more";
        return false;
    }
    return true;
}

// The member's bytes, or only its first `limit` bytes (then unchecked against its CRC).
bool Unpack(const std::vector<unsigned char>& z, const ZipMember& m, std::vector<unsigned char>& out,
            std::string& error, uint64_t limit = UINT64_MAX) {
    error = "the archive member " + QuoteFileText(m.name) + " is damaged";
    const uint64_t n = z.size();
    if (m.local_offset > n || n - m.local_offset < 30 || Le(&z[m.local_offset], 4) != 0x04034b50) return false;
    const uint64_t start = m.local_offset + 30 + Le(&z[m.local_offset + 26], 2) + Le(&z[m.local_offset + 28], 2);
    if (start > n || m.packed > n - start) return false;
    if (m.size > kMaxMemberBytes) {
        error = "the archive member " + QuoteFileText(m.name) + " is larger than any grid this program reads";
        return false;
    }
    const bool part = limit < m.size;
    const std::size_t wanted = static_cast<std::size_t>(part ? limit : m.size);
    out.resize(wanted);
    const unsigned char* packed = z.data() + start;
    if (m.method == 0) {
        if (m.packed != m.size) return false;
        if (wanted) std::memcpy(out.data(), packed, wanted);
    } else if (m.method == 8) {
        z_stream s{};
        if (inflateInit2(&s, -MAX_WBITS) != Z_OK) return false;
        s.next_in = const_cast<unsigned char*>(packed);
        s.avail_in = static_cast<uInt>(m.packed);
        s.next_out = out.data();
        s.avail_out = static_cast<uInt>(wanted);
        const int status = inflate(&s, part ? Z_SYNC_FLUSH : Z_FINISH);
        const bool whole = part ? s.total_out == wanted : status == Z_STREAM_END && s.total_out == m.size;
        inflateEnd(&s);
        if (!whole) return false;
    } else {
        error = "the archive member " + QuoteFileText(m.name) + " uses a compression other than deflate";
        return false;
    }
    return part || crc32(0L, out.data(), static_cast<uInt>(out.size())) == m.crc;
}

std::string ArrayName(const std::string& member) {
    return member.size() > 4 && member.compare(member.size() - 4, 4, ".npy") == 0 ? member.substr(0, member.size() - 4)
                                                                                  : member;
}

int ReadMember(const std::vector<unsigned char>& z, const std::vector<ZipMember>& members, const std::string& array,
               ImportGrid& grid, std::string& error) {
    for (const ZipMember& m : members) {
        if (ArrayName(m.name) != array) continue;
        std::vector<unsigned char> bytes;
        if (!Unpack(z, m, bytes, error)) return 0;
        if (!NpyToGrid(bytes.data(), bytes.size(), grid, error)) {
            error = "array " + QuoteFileText(array) + ": " + error;
            return 0;
        }
        grid.name = array;
        return 1;
    }
    error = "has no array " + QuoteFileText(array);
    return 0;
}

}  // namespace

int ReadNpy(const std::vector<unsigned char>& bytes, ImportGrid& grid, std::string& error) {
    return NpyToGrid(bytes.data(), bytes.size(), grid, error);
}

int ReadNpz(const std::vector<unsigned char>& bytes, const ImportOptions& options, ImportGrid& grid, std::string& error,
            ImportContents* contents) {
    std::vector<ZipMember> members;
    if (!ListZip(bytes, members, error)) return 0;
    if (contents) {
        // Only the headers: listing an archive must not inflate every array in it.
        for (const ZipMember& m : members) {
            std::vector<unsigned char> head;
            std::string ignored;
            NpyHeader h;
            long long width = 0, height = 0;
            int components = 0;
            bool interleaved = false;
            if (!Unpack(bytes, m, head, ignored, 12 + 65535) || !ParseNpyHeader(head.data(), head.size(), h, ignored) ||
                !GridShape(h, width, height, components, interleaved, ignored)) {
                continue;
            }
            ImportVariable v;
            v.name = ArrayName(m.name);
            v.width = static_cast<int>(width);
            v.height = static_cast<int>(height);
            contents->variables.push_back(v);
        }
        // The defaults are what a read without names takes: u and v, or the single array.
        bool has_u = false, has_v = false;
        for (const ImportVariable& v : contents->variables) {
            has_u = has_u || v.name == "u";
            has_v = has_v || v.name == "v";
        }
        if (has_u && has_v) {
            contents->defaults.u_var = "u";
            contents->defaults.v_var = "v";
        }
        if (contents->variables.empty()) {
            error = "the archive holds no array that is a grid";
            return 0;
        }
        return 1;
    }
    if (!options.scalar_var.empty()) {
        if (!ReadMember(bytes, members, options.scalar_var, grid, error)) return 0;
        if (grid.components != 1) {
            error = "array " + options.scalar_var + " is no 2-D scalar grid";
            return 0;
        }
        return 1;
    }
    const std::string u_name = options.u_var.empty() ? "u" : options.u_var;
    const std::string v_name = options.v_var.empty() ? "v" : options.v_var;
    bool has_u = false, has_v = false;
    for (const ZipMember& m : members) {
        has_u = has_u || ArrayName(m.name) == u_name;
        has_v = has_v || ArrayName(m.name) == v_name;
    }
    // Without the two named arrays a single array is the field (or the scalar) itself.
    if (options.u_var.empty() && options.v_var.empty() && !(has_u && has_v) && members.size() == 1)
        return ReadMember(bytes, members, ArrayName(members[0].name), grid, error);
    ImportGrid u, v;
    if (!ReadMember(bytes, members, u_name, u, error) || !ReadMember(bytes, members, v_name, v, error)) return 0;
    if (u.components != 1 || v.components != 1) {
        error = "arrays " + u_name + " and " + v_name + " must both be 2-D grids";
        return 0;
    }
    if (u.width != v.width || u.height != v.height) {
        error = u_name + " and " + v_name + " have different shapes (" + std::to_string(u.height) + " x " +
                std::to_string(u.width) + " and " + std::to_string(v.height) + " x " + std::to_string(v.width) + ")";
        return 0;
    }
    grid.width = u.width;
    grid.height = u.height;
    grid.components = 2;
    grid.values.resize(2 * u.values.size());
    for (std::size_t i = 0; i < u.values.size(); ++i) {
        grid.values[2 * i] = u.values[i];
        grid.values[2 * i + 1] = v.values[i];
    }
    grid.name = u_name + ", " + v_name;
    return 1;
}

}  // namespace flowloom::import_detail
