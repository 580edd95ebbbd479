// The compiled half of the `vurnel` Python module (vurnel._vurnel): one designed filter of the
// library, its design read out as numpy arrays in the extended format, its exact response, and
// the filter run over numpy arrays as the recursion and as second-order sections, keeping each
// channel's state between calls. The Python half (vurnel/__init__.py) moves the axis and checks
// the types; this half receives C-contiguous (channels, samples) arrays.
#include <pybind11/complex.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <climits>
#include <cmath>
#include <complex>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DesignSettings.h"
#include "dspIIRFilters.h"
#include "dspResponse.h"
#include "dspSections.h"

namespace py = pybind11;
using vurnel::host::DesignError;
using vurnel::host::DesignSettings;
namespace dsp = vurnel::dsp;

namespace {

using Complex = std::complex<long double>;

// Runs a filter's recursion or its sections over count samples, in the blocks their ProcessBlock
// takes: the bits of ProcessSample sample by sample, narrowed as a plain conversion narrows.
template <typename Runner, typename T>
void RunBlocks(Runner& runner, const T* input, T* output, std::size_t count) {
    while (count > 0) {
        const int n = count > INT_MAX ? INT_MAX : static_cast<int>(count);
        runner.ProcessBlock(input, output, n);
        input += n;
        output += n;
        count -= static_cast<std::size_t>(n);
    }
}

Complex ToStd(const dsp::TComplex& z) {
    return {z.re, z.im};
}

py::array_t<Complex> ComplexArray(const dsp::TComplex* values, int n) {
    py::array_t<Complex> out(n);
    auto view = out.mutable_unchecked<1>();
    for (int i = 0; i < n; ++i)
        view(i) = ToStd(values[i]);
    return out;
}

py::array_t<long double> RealArray(const std::vector<long double>& values) {
    py::array_t<long double> out(static_cast<py::ssize_t>(values.size()));
    auto view = out.mutable_unchecked<1>();
    for (std::size_t i = 0; i < values.size(); ++i)
        view(static_cast<py::ssize_t>(i)) = values[i];
    return out;
}

// One design and the filtering state of every channel it has run on.
class Filter {
public:
    explicit Filter(const DesignSettings& settings) : settings_(settings) {
        vurnel::host::CheckDesignSettings(settings_, "");
        vurnel::host::ConfigureFilter(design_, settings_);
        // A setting the filter would store as another value designs another filter than the one
        // asked for: refuse it, with the same words `vurnel design` notes it in.
        const std::vector<std::string> notes = vurnel::host::StorageNotes(design_, settings_);
        if (!notes.empty()) throw DesignError(notes.front());
        sections_.Design(design_);
    }

    const dsp::TdspIIRFilter& Design() const { return design_; }
    const dsp::TdspIIRSections& Sections() const { return sections_; }
    const DesignSettings& Settings() const { return settings_; }

    bool Runs() const { return design_.GetRoutine() == dsp::TdspSampleRoutine::FilterSample; }

    py::tuple Zpk() const {
        if (!Runs())
            return py::make_tuple(ComplexArray(nullptr, 0), ComplexArray(nullptr, 0),
                                  Scalar(Unity()));
        return py::make_tuple(ComplexArray(design_.GetZZeros(), design_.GetZNumZeros()),
                              ComplexArray(design_.GetZPoles(), design_.GetZNumPoles()),
                              Scalar(design_.GetGainFactor()));
    }

    // b and a in scipy's order (descending powers of z, a[0] = 1): b[0] = g and b[k] = g·x_k,
    // each product rounded once, a[k] = −y_k, as the recursion runs them.
    py::tuple Ba() const {
        if (!Runs()) return py::make_tuple(RealArray({Unity()}), RealArray({1.0L}));
        const int n = design_.GetNumTaps();
        const long double g = design_.GetGainFactor();
        std::vector<long double> b(static_cast<std::size_t>(n) + 1),
            a(static_cast<std::size_t>(n) + 1);
        b[0] = g;
        a[0] = 1.0L;
        for (int k = 1; k <= n; ++k) {
            b[static_cast<std::size_t>(k)] = g * design_.GetXCoeffs()[n - k];
            a[static_cast<std::size_t>(k)] = -design_.GetYCoeffs()[n - k];
        }
        return py::make_tuple(RealArray(b), RealArray(a));
    }

    // The sections as they run, one row [B0, B1, B2, 1, A1, A2] each.
    py::array_t<long double> Sos() const {
        const int m = sections_.GetRoutine() == dsp::TdspSampleRoutine::FilterSample
                          ? sections_.GetNumSections()
                          : 0;
        py::array_t<long double> out({m > 0 ? m : 1, 6});
        auto view = out.mutable_unchecked<2>();
        if (m == 0) {
            const long double row[6] = {Unity(), 0.0L, 0.0L, 1.0L, 0.0L, 0.0L};
            for (int j = 0; j < 6; ++j)
                view(0, j) = row[j];
        }
        for (int i = 0; i < m; ++i) {
            const dsp::TdspBiquad& s = sections_.GetSection(i);
            const long double row[6] = {s.B0, s.B1, s.B2, 1.0L, s.A1, s.A2};
            for (int j = 0; j < 6; ++j)
                view(i, j) = row[j];
        }
        return out;
    }

    // H at each frequency in hertz, of the recursion as it runs or of the sections.
    py::array_t<Complex>
    Response(const py::array_t<long double, py::array::c_style | py::array::forcecast>& hertz,
             bool sections) const {
        std::vector<py::ssize_t> shape(hertz.shape(), hertz.shape() + hertz.ndim());
        py::array_t<Complex> out(shape);
        const long double* f = hertz.data();
        Complex* h = out.mutable_data();
        dsp::TdspIIRDesignSnapshot snapshot;
        design_.TakeDesignSnapshot(snapshot);
        const long double rate = design_.GetSampleRate();
        for (py::ssize_t i = 0; i < hertz.size(); ++i) {
            const long double w = vurnel::host::AngularFrequency(f[i], rate);
            h[i] = ToStd(sections ? dsp::SectionsResponse(sections_, w).H
                                  : dsp::RecursionResponse(snapshot, w).H);
        }
        return out;
    }

    // Runs every row of a C-contiguous (channels, samples) array through its channel's state.
    template <typename T>
    py::array_t<T> Run(const py::array_t<T, py::array::c_style>& input, bool sections) {
        if (input.ndim() != 2) throw std::invalid_argument("expected a 2-D array");
        const py::ssize_t channels = input.shape(0), count = input.shape(1);
        py::array_t<T> output({channels, count});
        const T* in = input.data();
        T* out = output.mutable_data();
        {
            py::gil_scoped_release release;
            std::lock_guard<std::mutex> lock(mutex_);
            if (sections)
                Prepare(sectionStates_, static_cast<std::size_t>(channels),
                        [this] { return std::make_unique<dsp::TdspIIRSections>(design_); });
            else
                Prepare(recursionStates_, static_cast<std::size_t>(channels), [this] {
                    auto f = std::make_unique<dsp::TdspIIRFilter>();
                    vurnel::host::ConfigureFilter(*f, settings_);
                    return f;
                });
            for (py::ssize_t c = 0; c < channels; ++c) {
                const std::size_t n = static_cast<std::size_t>(count);
                const T* from = in + c * count;
                T* to = out + c * count;
                if (sections)
                    RunBlocks(*sectionStates_[static_cast<std::size_t>(c)], from, to, n);
                else
                    RunBlocks(*recursionStates_[static_cast<std::size_t>(c)], from, to, n);
            }
        }
        return output;
    }

    // Forgets every channel's state: the next call starts from rest.
    void Reset() {
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> lock(mutex_);
        recursionStates_.clear();
        sectionStates_.clear();
    }

    // A numpy longdouble scalar.
    static py::object Scalar(long double value) {
        py::array_t<long double> one(1);
        one.mutable_data()[0] = value;
        return one[py::int_(0)];
    }

private:
    long double Unity() const {
        return design_.GetRoutine() == dsp::TdspSampleRoutine::Silence ? 0.0L : 1.0L;
    }

    // One state per channel, made on the first call; a later call with another channel count is
    // refused (the state of a stream cannot be guessed).
    template <typename State, typename Make>
    void Prepare(std::vector<std::unique_ptr<State>>& states, std::size_t channels, Make make) {
        if (states.empty()) {
            for (std::size_t c = 0; c < channels; ++c)
                states.push_back(make());
        } else if (states.size() != channels) {
            throw std::invalid_argument(
                "the filter holds the state of " + std::to_string(states.size()) +
                " channel(s) and was given " + std::to_string(channels) +
                "; call reset() before filtering another number of channels");
        }
    }

    DesignSettings settings_;
    dsp::TdspIIRFilter design_;
    dsp::TdspIIRSections sections_;
    std::mutex mutex_; // one call at a time filters with this object's states
    std::vector<std::unique_ptr<dsp::TdspIIRFilter>> recursionStates_;
    std::vector<std::unique_ptr<dsp::TdspIIRSections>> sectionStates_;
};

// The text of a setting in a message, as Python prints it.
std::string Text(const py::handle& value) {
    return py::str(value).cast<std::string>();
}

// A setting as the extended value it names: a str is read as `vurnel design` reads its options
// (strtold), anything else (int, float, numpy longdouble) through numpy's longdouble, exactly.
// DesignError when it is no finite number.
long double Number(const char* option, const py::handle& value) {
    const std::string text = Text(value);
    if (py::isinstance<py::str>(value)) return vurnel::host::ParseNumber(option, text);
    const auto array = py::array_t<long double, py::array::forcecast>::ensure(value);
    if (!array || array.ndim() != 0 || py::isinstance<py::bool_>(value))
        throw DesignError(std::string(option) + " wants a number, not '" + text + "'");
    const long double v = *array.data();
    vurnel::host::CheckNumber(option, v, text);
    return v;
}

std::unique_ptr<Filter> Make(const std::string& kind, const std::string& response,
                             const py::object& order, const py::object& f1, const py::object& f2,
                             const py::object& fs, const py::object& ripple,
                             const py::object& attenuation, const py::object& gain) {
    namespace host = vurnel::host;
    DesignSettings s;
    s.kind = host::KindNamed(kind);
    s.response = host::ResponseNamed(response);
    s.order = host::CheckedOrder(Number("order", order), Text(order));
    s.f1 = Number("f1", f1);
    if (!f2.is_none()) {
        s.f2 = Number("f2", f2);
        s.f2Given = true;
    }
    s.rate = Number("fs", fs);
    host::CheckRate(s.rate, Text(fs));
    s.ripple = Number("ripple", ripple);
    s.attenuation = Number("attenuation", attenuation);
    s.attenuationGiven = true;
    s.gain = Number("gain", gain);
    s.gainGiven = true;
    return std::make_unique<Filter>(s);
}

} // namespace

PYBIND11_MODULE(_vurnel, m) {
    m.doc() = "The compiled half of vurnel: the filter library's designs and filters.";
    py::register_exception<DesignError>(m, "DesignError", PyExc_ValueError);
    py::class_<Filter>(m, "Filter")
        .def(py::init(&Make), py::arg("kind"), py::arg("response"), py::arg("order"), py::arg("f1"),
             py::arg("f2"), py::arg("fs"), py::arg("ripple"), py::arg("attenuation"),
             py::arg("gain"))
        .def_property_readonly("zpk", &Filter::Zpk)
        .def_property_readonly("ba", &Filter::Ba)
        .def_property_readonly("sos", &Filter::Sos)
        .def_property_readonly("stable", [](const Filter& f) { return f.Design().IsStable(); })
        .def_property_readonly("sections_stable",
                               [](const Filter& f) { return f.Sections().IsStable(); })
        .def_property_readonly(
            "largest_root",
            [](const Filter& f) { return Filter::Scalar(f.Design().LargestRootMagnitude()); })
        .def_property_readonly("error",
                               [](const Filter& f) -> py::object {
                                   const std::string& e = f.Design().GetErrorText();
                                   if (e.empty()) return py::none();
                                   return py::str(e);
                               })
        .def_property_readonly("settings",
                               [](const Filter& f) {
                                   const dsp::TdspIIRFilter& d = f.Design();
                                   py::dict s;
                                   s["kind"] = vurnel::host::KindName(d.GetKind());
                                   s["response"] = vurnel::host::ResponseName(d.GetResponse());
                                   s["order"] = static_cast<int>(d.GetOrder());
                                   s["f1"] = Filter::Scalar(d.GetFrequency(1));
                                   s["f2"] = vurnel::host::IsBand(d.GetResponse())
                                                 ? Filter::Scalar(d.GetFrequency(2))
                                                 : py::object(py::none());
                                   s["fs"] = Filter::Scalar(d.GetSampleRate());
                                   s["ripple"] = Filter::Scalar(d.GetRipple());
                                   s["attenuation"] = Filter::Scalar(d.GetAttenuation());
                                   s["gain"] = Filter::Scalar(d.GetGain());
                                   return s;
                               })
        .def("response", &Filter::Response, py::arg("hertz"), py::arg("sections") = false)
        .def("_run", &Filter::Run<float>, py::arg("x"), py::arg("sections"))
        .def("_run", &Filter::Run<double>, py::arg("x"), py::arg("sections"))
        .def("_run", &Filter::Run<long double>, py::arg("x"), py::arg("sections"))
        .def("reset", &Filter::Reset);
}
