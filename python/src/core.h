#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "fieldio/field_geometry.h"
#include "lic/compose.h"

namespace flowloom::python {

namespace py = pybind11;

// Arrays as the Python layer hands them over: C-contiguous, of the right dtype, already
// checked for shape (that layer gives the clear messages; these checks only keep a direct
// caller of the extension from reading out of bounds).
using FloatArray = py::array_t<float, py::array::c_style>;
using ByteArray = py::array_t<unsigned char, py::array::c_style>;

// The engine's noise generator and its sparse-noise seed are process-wide: one texture
// at a time is drawn under this lock, since the order of the draws defines the texture.
std::mutex& NoiseLock();

// The engine's field layout, (vx, vy) pairs, from two planes of `count` samples, and back
// into two new (rows, cols) arrays.
std::vector<float> Interleave(const float* u, const float* v, size_t count);
py::tuple Planes(const float* pairs, py::ssize_t rows, py::ssize_t cols);

// A 1-D coordinate as the Python layer describes it: {values, name, units, standard_name}.
FieldAxis AxisOf(const py::dict& d);

// The colour options of a call's settings (cmap, norm with vmin/vmax or percentiles, blend,
// alpha, stretch, clahe, mask_color into `mask_bgr`); ValueError for what no picture can
// be made of. `by_scalar`: the colour follows a scalar instead of the magnitude.
ColorOptions ReadColorOptions(const py::dict& kw, bool by_scalar, unsigned char mask_bgr[3]);

// A fresh uint8 array of the given shape.
ByteArray NewBytes(std::initializer_list<py::ssize_t> shape);

// Throws ValueError unless `a` is 2-D with `rows` x `cols` samples (any when rows < 0).
void RequireShape(const py::array& a, const char* name, py::ssize_t rows, py::ssize_t cols);

// `threads`, or ValueError when it is outside the renderer's range (the settings table's):
// a count far beyond it makes the OpenMP runtime end the interpreter.
int CheckedThreads(int threads);

// path.c_str(), or ValueError when `path` holds a NUL: the engine would take only the
// part before it, and write another file than the one named.
const char* PlainPath(const std::string& path);

// The bindings of the tile helpers behind flowloom.dask.
void BindTiles(py::module_& m);

}  // namespace flowloom::python
