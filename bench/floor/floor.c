/* The floor of the benchmark: the unavoidable cost of each operation, built
 * by the harness and never shipped. Methods here have the calling shapes of
 * PyGraphDiff's, do the same argument conversions without storing anything,
 * build the same result objects from plain C arrays, and copy bytes. What the
 * module spends above these is its own overhead. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#if defined(__linux__)
#include <sys/mman.h>
#endif

typedef struct {
    uint8_t id[16];
} Id;

typedef struct {
    Id source;
    Py_ssize_t first, count; /* range in the target arrays */
} Source;

typedef struct {
    PyObject_HEAD
    /* edges: sources with their targets and weights */
    Source* sources;
    Py_ssize_t n_sources;
    Id* targets;
    float* weights;
    Py_ssize_t n_targets;
    /* nodes: ids with a label and a size each (the benchmark's update shape) */
    Id* nodes;
    char** labels;
    Py_ssize_t* label_lengths;
    float* sizes;
    Py_ssize_t n_nodes;
    /* one small open-addressing table per source, for the probe floor */
    Id* probe_tables;
    Py_ssize_t n_probe_tables;
    /* a byte buffer to copy from */
    char* buffer;
    Py_ssize_t buffer_size;
    /* what count() returns: the module's count, so that both build the same
     * int (a small one is cached, a large one allocated) */
    Py_ssize_t count_value;
} Floor;

static PyObject* key_label;
static PyObject* key_url;
static PyObject* key_size;
static PyObject* key_red;
static PyObject* key_green;
static PyObject* key_blue;
static PyObject* key_show_label;

/* ---- calling shapes ---------------------------------------------------- */

static PyObject* noop3(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    (void)self, (void)args, (void)nargs, (void)kw;
    Py_RETURN_NONE;
}

static PyObject* count(PyObject* self, PyObject* unused) {
    (void)unused;
    return PyLong_FromSsize_t(((Floor*)self)->count_value);
}

static PyObject* set_count(PyObject* self, PyObject* arg) {
    Py_ssize_t n = PyLong_AsSsize_t(arg);
    if (n == -1 && PyErr_Occurred()) return NULL;
    ((Floor*)self)->count_value = n;
    Py_RETURN_NONE;
}

/* ---- conversions without storing -------------------------------------- */

static int id_of(PyObject* o, Id* out) {
    if (!PyBytes_Check(o) || PyBytes_GET_SIZE(o) != 16) {
        PyErr_SetString(PyExc_TypeError, "bad id");
        return -1;
    }
    memcpy(out->id, PyBytes_AS_STRING(o), 16);
    return 0;
}

static PyObject* convert_edge(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    (void)self, (void)kw;
    Id a, b;
    if (nargs != 3 || id_of(args[0], &a) || id_of(args[1], &b)) return NULL;
    double w = PyFloat_CheckExact(args[2]) ? PyFloat_AS_DOUBLE(args[2]) : PyFloat_AsDouble(args[2]);
    if (w == -1.0 && PyErr_Occurred()) return NULL;
    volatile float sink = (float)w;
    (void)sink;
    volatile uint8_t touch = a.id[0] ^ b.id[0];
    (void)touch;
    Py_RETURN_NONE;
}

static PyObject* convert_ids2(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    (void)self, (void)kw;
    Id a, b;
    if (nargs != 2 || id_of(args[0], &a) || id_of(args[1], &b)) return NULL;
    volatile uint8_t touch = a.id[0] ^ b.id[0];
    (void)touch;
    Py_RETURN_NONE;
}

static PyObject* convert_id(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    (void)self, (void)kw;
    Id a;
    if (nargs != 1 || id_of(args[0], &a)) return NULL;
    volatile uint8_t touch = a.id[0];
    (void)touch;
    Py_RETURN_NONE;
}

/* add_node's floor: the id, then the seven keys looked up and each present
 * value converted, as the module must; nothing kept. */
static PyObject* convert_node(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    (void)self, (void)kw;
    Id a;
    if (nargs != 2 || id_of(args[0], &a)) return NULL;
    PyObject* d = args[1];
    if (!PyDict_Check(d)) return PyErr_Format(PyExc_TypeError, "not a dict");
    PyObject* keys[7] = {key_label, key_url, key_size, key_red, key_green, key_blue, key_show_label};
    volatile Py_ssize_t sink = 0;
    for (int i = 0; i < 7; ++i) {
        PyObject* v = PyDict_GetItemWithError(d, keys[i]);
        if (v == NULL) {
            if (PyErr_Occurred()) return NULL;
            continue;
        }
        if (i < 2) {
            Py_ssize_t n;
            const char* s = PyUnicode_AsUTF8AndSize(v, &n);
            if (s == NULL) return NULL;
            sink += n;
        } else if (i == 2) {
            double x = PyFloat_AsDouble(v);
            if (x == -1.0 && PyErr_Occurred()) return NULL;
            sink += (Py_ssize_t)(float)x;
        } else if (i < 6) {
            long x = PyLong_AsLong(v);
            if (x == -1 && PyErr_Occurred()) return NULL;
            sink += x;
        } else {
            sink += v == Py_True;
        }
    }
    (void)sink;
    Py_RETURN_NONE;
}

/* ---- loading plain C arrays -------------------------------------------- */

/* load_edges({source_bytes: {target_bytes: weight}}) */
static PyObject* load_edges(PyObject* self_, PyObject* edges) {
    Floor* self = (Floor*)self_;
    Py_ssize_t ns = PyDict_Size(edges), nt = 0, pos = 0;
    PyObject *k, *v;
    while (PyDict_Next(edges, &pos, &k, &v)) nt += PyDict_Size(v);
    free(self->sources), free(self->targets), free(self->weights);
    self->sources = malloc(sizeof(Source) * (size_t)(ns + 1));
    self->targets = malloc(sizeof(Id) * (size_t)(nt + 1));
    self->weights = malloc(sizeof(float) * (size_t)(nt + 1));
    Py_ssize_t s = 0, t = 0;
    pos = 0;
    while (PyDict_Next(edges, &pos, &k, &v)) {
        if (id_of(k, &self->sources[s].source)) return NULL;
        self->sources[s].first = t;
        Py_ssize_t p2 = 0;
        PyObject *k2, *v2;
        while (PyDict_Next(v, &p2, &k2, &v2)) {
            if (id_of(k2, &self->targets[t])) return NULL;
            self->weights[t++] = (float)PyFloat_AsDouble(v2);
        }
        self->sources[s].count = t - self->sources[s].first;
        ++s;
    }
    self->n_sources = ns;
    self->n_targets = nt;
    Py_RETURN_NONE;
}

/* load_nodes({id_bytes: (label, size)}) */
static PyObject* load_nodes(PyObject* self_, PyObject* nodes) {
    Floor* self = (Floor*)self_;
    Py_ssize_t n = PyDict_Size(nodes), pos = 0, i = 0;
    PyObject *k, *v;
    free(self->nodes), free(self->sizes), free(self->label_lengths);
    if (self->labels) {
        for (Py_ssize_t j = 0; j < self->n_nodes; ++j) free(self->labels[j]);
        free(self->labels);
    }
    self->nodes = malloc(sizeof(Id) * (size_t)(n + 1));
    self->labels = calloc((size_t)(n + 1), sizeof(char*));
    self->label_lengths = malloc(sizeof(Py_ssize_t) * (size_t)(n + 1));
    self->sizes = malloc(sizeof(float) * (size_t)(n + 1));
    while (PyDict_Next(nodes, &pos, &k, &v)) {
        if (id_of(k, &self->nodes[i])) return NULL;
        Py_ssize_t len;
        const char* s = PyUnicode_AsUTF8AndSize(PyTuple_GET_ITEM(v, 0), &len);
        self->labels[i] = malloc((size_t)len + 1);
        memcpy(self->labels[i], s, (size_t)len);
        self->label_lengths[i] = len;
        self->sizes[i] = (float)PyFloat_AsDouble(PyTuple_GET_ITEM(v, 1));
        ++i;
    }
    self->n_nodes = n;
    Py_RETURN_NONE;
}

/* ---- building the listings' objects ------------------------------------ */

static PyObject* id_text(const Id* id) {
    static const char hex[] = "0123456789abcdef";
    PyObject* s = PyUnicode_New(36, 127);
    if (!s) return NULL;
    char* out = (char*)PyUnicode_1BYTE_DATA(s);
    for (int i = 0, p = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out[p++] = '-';
        out[p++] = hex[id->id[i] >> 4];
        out[p++] = hex[id->id[i] & 15];
    }
    return s;
}

static int set_steal(PyObject* d, PyObject* k, PyObject* v) {
    if (!k || !v) {
        Py_XDECREF(k), Py_XDECREF(v);
        return -1;
    }
    int r = PyDict_SetItem(d, k, v);
    Py_DECREF(k), Py_DECREF(v);
    return r;
}

static PyObject* build_edges(PyObject* self_, PyObject* unused) {
    (void)unused;
    Floor* self = (Floor*)self_;
    PyObject* result = PyDict_New();
    for (Py_ssize_t s = 0; result && s < self->n_sources; ++s) {
        const Source* src = &self->sources[s];
        PyObject* inner = PyDict_New();
        for (Py_ssize_t t = src->first; inner && t < src->first + src->count; ++t) {
            if (set_steal(inner, id_text(&self->targets[t]), PyFloat_FromDouble(self->weights[t]))) Py_CLEAR(inner);
        }
        if (set_steal(result, id_text(&src->source), inner)) Py_CLEAR(result);
    }
    return result;
}

static PyObject* build_deleted_edges(PyObject* self_, PyObject* unused) {
    (void)unused;
    Floor* self = (Floor*)self_;
    PyObject* result = PyDict_New();
    for (Py_ssize_t s = 0; result && s < self->n_sources; ++s) {
        const Source* src = &self->sources[s];
        PyObject* inner = PyList_New(src->count);
        for (Py_ssize_t t = 0; inner && t < src->count; ++t) {
            PyObject* text = id_text(&self->targets[src->first + t]);
            if (!text) Py_CLEAR(inner);
            else PyList_SET_ITEM(inner, t, text);
        }
        if (set_steal(result, id_text(&src->source), inner)) Py_CLEAR(result);
    }
    return result;
}

static PyObject* build_nodes(PyObject* self_, PyObject* unused) {
    (void)unused;
    Floor* self = (Floor*)self_;
    PyObject* result = PyDict_New();
    for (Py_ssize_t i = 0; result && i < self->n_nodes; ++i) {
        PyObject* inner = PyDict_New();
        if (inner && set_steal(inner, Py_NewRef(key_label),
                               PyUnicode_FromStringAndSize(self->labels[i], self->label_lengths[i])))
            Py_CLEAR(inner);
        if (inner && set_steal(inner, Py_NewRef(key_size), PyFloat_FromDouble(self->sizes[i])))
            Py_CLEAR(inner);
        if (set_steal(result, id_text(&self->nodes[i]), inner)) Py_CLEAR(result);
    }
    return result;
}

static PyObject* build_deleted_nodes(PyObject* self_, PyObject* unused) {
    (void)unused;
    Floor* self = (Floor*)self_;
    PyObject* result = PyList_New(self->n_nodes);
    for (Py_ssize_t i = 0; result && i < self->n_nodes; ++i) {
        PyObject* text = id_text(&self->nodes[i]);
        if (!text) Py_CLEAR(result);
        else PyList_SET_ITEM(result, i, text);
    }
    return result;
}

/* ---- a hash-table probe per source ------------------------------------- */

enum { PROBE_SLOTS = 16 };

static PyObject* make_probe_tables(PyObject* self_, PyObject* arg) {
    Floor* self = (Floor*)self_;
    Py_ssize_t n = PyLong_AsSsize_t(arg);
    if (n < 0) return NULL;
    free(self->probe_tables);
    self->probe_tables = calloc((size_t)(n * PROBE_SLOTS + 1), sizeof(Id));
    for (Py_ssize_t i = 0; i < n * PROBE_SLOTS; ++i) {
        for (int b = 0; b < 16; ++b) self->probe_tables[i].id[b] = (uint8_t)(rand() | 1);
    }
    self->n_probe_tables = n;
    Py_RETURN_NONE;
}

/* One probe of a missing id in each table: hash it, visit one slot, compare. */
static PyObject* probe_each(PyObject* self_, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    (void)kw;
    Floor* self = (Floor*)self_;
    Id key;
    if (nargs != 1 || id_of(args[0], &key)) return NULL;
    uint64_t lo, hi;
    memcpy(&lo, key.id, 8);
    memcpy(&hi, key.id + 8, 8);
    uint64_t h = (lo ^ 0x243f6a8885a308d3ULL) * 0x9e3779b97f4a7c15ULL ^ hi;
    h ^= h >> 29;
    size_t slot = (size_t)(h & (PROBE_SLOTS - 1));
    Py_ssize_t hits = 0;
    for (Py_ssize_t t = 0; t < self->n_probe_tables; ++t) {
        hits += memcmp(&self->probe_tables[t * PROBE_SLOTS + (Py_ssize_t)slot], &key, 16) == 0;
    }
    return PyLong_FromSsize_t(hits);
}

/* ---- what memory costs here ------------------------------------------- */

static double now_ns(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1e9 + (double)t.tv_nsec;
}

static volatile size_t memory_sink;

/* Not a floor of any call, but what stands behind the fresh rows: the cost
 * of one read at a random place in a block of `bytes` (each read waits for
 * the one before, as a probe waits for its hash), and of the first touch of
 * a fresh 4 KiB page. Returns (ns per read, ns per page fault or None). */
static PyObject* memory_costs(PyObject* self, PyObject* arg) {
    (void)self;
    Py_ssize_t bytes = PyLong_AsSsize_t(arg);
    if (bytes < 0) return NULL;
    size_t lines = (size_t)bytes / 64;
    if (lines < 2) lines = 2;
    size_t* next = malloc(lines * 64);
    if (next == NULL) return PyErr_NoMemory();
    /* One cycle through every line (Sattolo's shuffle), a word per line. */
    size_t* order = malloc(lines * sizeof(size_t));
    if (order == NULL) {
        free(next);
        return PyErr_NoMemory();
    }
    for (size_t i = 0; i < lines; ++i) order[i] = i;
    uint64_t x = 0x9e3779b97f4a7c15ULL;
    for (size_t i = lines - 1; i > 0; --i) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        size_t j = (size_t)(x % i), t = order[i];
        order[i] = order[j], order[j] = t;
    }
    for (size_t i = 0; i < lines; ++i) next[order[i] * 8] = order[(i + 1) % lines] * 8;
    free(order);
    const long reads = 2000000;
    size_t at = 0;
    for (long k = 0; k < reads / 4; ++k) at = next[at]; /* warm the block */
    double start = now_ns();
    for (long k = 0; k < reads; ++k) at = next[at];
    double per_read = (now_ns() - start) / (double)reads;
    memory_sink = at; /* keeps the reads */
    free(next);
    PyObject* fault = Py_None;
    Py_INCREF(fault);
#if defined(__linux__)
    const size_t span = (size_t)64 << 20;
    char* fresh = mmap(NULL, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (fresh != MAP_FAILED) {
        start = now_ns();
        for (size_t i = 0; i < span; i += 4096) fresh[i] = 1;
        double per_fault = (now_ns() - start) / (double)(span / 4096);
        munmap(fresh, span);
        Py_DECREF(fault);
        fault = PyFloat_FromDouble(per_fault);
        if (fault == NULL) return NULL;
    }
#endif
    return Py_BuildValue("(dN)", per_read, fault);
}

/* ---- bytes ------------------------------------------------------------- */

static PyObject* copy_bytes(PyObject* self_, PyObject* const* args, Py_ssize_t nargs, PyObject* kw) {
    (void)kw;
    Floor* self = (Floor*)self_;
    Py_ssize_t n = nargs == 1 ? PyLong_AsSsize_t(args[0]) : -1;
    if (n < 0) return NULL;
    if (n > self->buffer_size) {
        free(self->buffer);
        self->buffer = malloc((size_t)n);
        memset(self->buffer, 0x5a, (size_t)n);
        self->buffer_size = n;
    }
    return PyBytes_FromStringAndSize(self->buffer, n);
}

static void floor_dealloc(PyObject* self_) {
    Floor* self = (Floor*)self_;
    free(self->sources), free(self->targets), free(self->weights), free(self->nodes);
    free(self->sizes), free(self->label_lengths), free(self->probe_tables), free(self->buffer);
    if (self->labels) {
        for (Py_ssize_t j = 0; j < self->n_nodes; ++j) free(self->labels[j]);
        free(self->labels);
    }
    PyTypeObject* tp = Py_TYPE(self_);
    tp->tp_free(self_);
    Py_DECREF(tp);
}

#define FAST (METH_FASTCALL | METH_KEYWORDS)
static PyMethodDef floor_methods[] = {
    {"noop3", (PyCFunction)(void (*)(void))noop3, FAST, NULL},
    {"noop2", (PyCFunction)(void (*)(void))noop3, FAST, NULL},
    {"noop1", (PyCFunction)(void (*)(void))noop3, FAST, NULL},
    {"count", count, METH_NOARGS, NULL},
    {"set_count", set_count, METH_O, NULL},
    {"convert_edge", (PyCFunction)(void (*)(void))convert_edge, FAST, NULL},
    {"convert_ids2", (PyCFunction)(void (*)(void))convert_ids2, FAST, NULL},
    {"convert_id", (PyCFunction)(void (*)(void))convert_id, FAST, NULL},
    {"convert_node", (PyCFunction)(void (*)(void))convert_node, FAST, NULL},
    {"load_edges", load_edges, METH_O, NULL},
    {"load_nodes", load_nodes, METH_O, NULL},
    {"build_edges", build_edges, METH_NOARGS, NULL},
    {"build_deleted_edges", build_deleted_edges, METH_NOARGS, NULL},
    {"build_nodes", build_nodes, METH_NOARGS, NULL},
    {"build_deleted_nodes", build_deleted_nodes, METH_NOARGS, NULL},
    {"make_probe_tables", make_probe_tables, METH_O, NULL},
    {"probe_each", (PyCFunction)(void (*)(void))probe_each, FAST, NULL},
    {"copy_bytes", (PyCFunction)(void (*)(void))copy_bytes, FAST, NULL},
    {"memory_costs", memory_costs, METH_O, NULL},
    {NULL, NULL, 0, NULL},
};

static PyType_Slot floor_slots[] = {
    {Py_tp_new, PyType_GenericNew},
    {Py_tp_dealloc, floor_dealloc},
    {Py_tp_methods, floor_methods},
    {0, NULL},
};

static PyType_Spec floor_spec = {"_tovra_floor.Floor", sizeof(Floor), 0, Py_TPFLAGS_DEFAULT, floor_slots};

static struct PyModuleDef floor_module = {PyModuleDef_HEAD_INIT, "_tovra_floor", NULL, -1, NULL};

PyMODINIT_FUNC PyInit__tovra_floor(void) {
    key_label = PyUnicode_InternFromString("label");
    key_url = PyUnicode_InternFromString("url");
    key_size = PyUnicode_InternFromString("size");
    key_red = PyUnicode_InternFromString("red");
    key_green = PyUnicode_InternFromString("green");
    key_blue = PyUnicode_InternFromString("blue");
    key_show_label = PyUnicode_InternFromString("show_label");
    PyObject* m = PyModule_Create(&floor_module);
    if (!m) return NULL;
    PyObject* type = PyType_FromSpec(&floor_spec);
    if (!type || PyModule_AddObject(m, "Floor", type) < 0) {
        Py_XDECREF(type);
        Py_DECREF(m);
        return NULL;
    }
    return m;
}
