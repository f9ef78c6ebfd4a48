#include "buffer.hpp"

#include <cstring>
#include <new>
#include <utility>

namespace qpy::arrays {
namespace {

struct VectorObject {
  PyObject_HEAD
  std::vector<double> f64;
  std::vector<std::int64_t> i64;
  const char* format;  // "d" or "q"
  Py_ssize_t shape;
  Py_ssize_t itemsize;
};

PyTypeObject* g_type = nullptr;
double g_empty = 0.0;  // a valid address for an empty buffer

int get_buffer(PyObject* self, Py_buffer* view, int flags) {
  auto* o = reinterpret_cast<VectorObject*>(self);
  void* data = o->format[0] == 'd' ? static_cast<void*>(o->f64.data()) : static_cast<void*>(o->i64.data());
  if (o->shape == 0) data = &g_empty;
  view->obj = Py_NewRef(self);
  view->buf = data;
  view->len = o->shape * o->itemsize;
  view->readonly = 0;
  view->itemsize = o->itemsize;
  view->format = (flags & PyBUF_FORMAT) ? const_cast<char*>(o->format) : nullptr;
  view->ndim = 1;
  view->shape = (flags & PyBUF_ND) ? &o->shape : nullptr;
  view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? &o->itemsize : nullptr;
  view->suboffsets = nullptr;
  view->internal = nullptr;
  return 0;
}

void dealloc(PyObject* self) {
  PyTypeObject* tp = Py_TYPE(self);
  auto* o = reinterpret_cast<VectorObject*>(self);
  o->f64.~vector();
  o->i64.~vector();
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(tp, Py_tp_free));
  free_fn(self);
  Py_DECREF(tp);
}

PyType_Slot kSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc)},
    {Py_bf_getbuffer, reinterpret_cast<void*>(&get_buffer)},
    {Py_tp_doc, const_cast<char*>("A flat result vector lent through the buffer protocol (numpy.frombuffer).")},
    {0, nullptr},
};

PyType_Spec kSpec = {
    "quarntools._arrays.Vector",
    static_cast<int>(sizeof(VectorObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    kSlots,
};

VectorObject* alloc() {
  auto a = reinterpret_cast<allocfunc>(PyType_GetSlot(g_type, Py_tp_alloc));
  auto* o = reinterpret_cast<VectorObject*>(a(g_type, 0));
  if (!o) return nullptr;
  new (&o->f64) std::vector<double>();
  new (&o->i64) std::vector<std::int64_t>();
  return o;
}

}  // namespace

bool init_vector_type(PyObject* module) {
  if (!g_type) {
    g_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&kSpec));
    if (!g_type) return false;
  }
  return PyModule_AddObjectRef(module, "Vector", reinterpret_cast<PyObject*>(g_type)) == 0;
}

PyObject* py_vector(std::vector<double>& v) {
  VectorObject* o = alloc();
  if (!o) return nullptr;
  o->f64 = std::move(v);
  o->format = "d";
  o->shape = static_cast<Py_ssize_t>(o->f64.size());
  o->itemsize = 8;
  return reinterpret_cast<PyObject*>(o);
}

PyObject* py_int_vector(const std::vector<std::uint8_t>& v) {
  VectorObject* o = alloc();
  if (!o) return nullptr;
  Ref hold(reinterpret_cast<PyObject*>(o));
  try {
    o->i64.assign(v.begin(), v.end());
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
  o->format = "q";
  o->shape = static_cast<Py_ssize_t>(o->i64.size());
  o->itemsize = 8;
  return hold.release();
}

}  // namespace qpy::arrays
