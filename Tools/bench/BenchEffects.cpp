// Cost of publishing a global effect, and of scrambling records, each beside
// a plain memcpy of the same bytes measured in the same run.
//   BenchEffects.exe [calls]
// Writes a temporary app record "KaleoBench.exe" under the Apps key (removed
// again, with any key it had to create) and creates the six model rings as
// the device side would, so every ring is written.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "AppManager.h"
#include "EffectRings.h"
#include "Registry.h"
#include "TaskRuntime.h"

namespace
{
constexpr wchar_t kBenchApp[] = L"KaleoBench.exe";

double NowUs()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

struct CStats
{
    double median;
    double p99;
    double mean;
};

CStats Summarise(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    double sum = 0;
    for (double s : samples)
        sum += s;
    const size_t n = samples.size();
    return CStats{samples[n / 2], samples[std::min(n - 1, n * 99 / 100)], sum / static_cast<double>(n)};
}

bool KeyExists(const std::wstring& path)
{
    Common::CRegKey key;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, Common::KALEO_READ_ACCESS, key.Put()) ==
           ERROR_SUCCESS;
}

// The app record the benchmark needs; put back as it was on destruction.
class CBenchRecord
{
public:
    CBenchRecord()
        : m_rootExisted(KeyExists(Common::KALEO_ROOT_KEY)), m_appsExisted(KeyExists(Common::KALEO_APPS_KEY)),
          m_path(std::wstring(Common::KALEO_APPS_KEY) + L"\\" + kBenchApp), m_existed(KeyExists(m_path))
    {
        Common::CRegKey key;
        if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, m_path.c_str(), 0, nullptr, 0, Common::KALEO_ALL_ACCESS, nullptr,
                              key.Put(), nullptr) != ERROR_SUCCESS)
            return;
        const DWORD all = 0xBF;
        m_ok = ::RegSetValueExW(key.Get(), L"DevicesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&all),
                                sizeof(all)) == ERROR_SUCCESS;
    }
    ~CBenchRecord()
    {
        if (!m_existed)
            ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, m_path.c_str(), KEY_WOW64_32KEY, 0);
        if (!m_appsExisted)
            ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, Common::KALEO_APPS_KEY, KEY_WOW64_32KEY, 0);
        if (!m_rootExisted)
            ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, Common::KALEO_ROOT_KEY, KEY_WOW64_32KEY, 0);
    }
    bool Ok() const { return m_ok; }

private:
    const bool m_rootExisted;
    const bool m_appsExisted;
    const std::wstring m_path;
    const bool m_existed;
    bool m_ok = false;
};

// The model rings as the device side creates them.
struct CModelRings
{
    CModelRings()
    {
        for (const Effects::CModelRingRow& row : Effects::MODEL_RINGS)
        {
            const std::wstring guid = row.guid;
            sections.emplace_back(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                       Effects::MODEL_SECTION_SIZE, (L"Global\\" + guid).c_str()));
            events.emplace_back(::CreateEventW(nullptr, TRUE, FALSE, (L"Global\\event_" + guid).c_str()));
        }
    }
    std::vector<Common::CHandle> sections;
    std::vector<Common::CHandle> events;
};

// Bytes of the records one global effect for an app supporting every class writes.
size_t GlobalEffectBytes()
{
    size_t bytes = Effects::MODEL_RING_COUNT * Effects::MODEL_SLOT_SIZE;
    for (const Effects::CRingLayout* ring : Effects::EFFECT_RINGS)
        bytes += ring->slotSize;
    return bytes;
}

volatile uint32_t g_sink;

void PrintStats(const char* what, const CStats& s)
{
    std::printf("  %-34s median %9.1f us   p99 %9.1f us   mean %9.1f us\n", what, s.median, s.p99, s.mean);
}

// The six model-ring records of one effect written one after another on the
// calling thread (as the module does), against one pool task per ring with a
// join (the other way the module could do it).
void BenchModelRings(int calls)
{
    std::vector<std::unique_ptr<CKaleoModelData>> models;
    for (const Effects::CModelRingRow& row : Effects::MODEL_RINGS)
        models.push_back(std::make_unique<CKaleoModelData>(row));
    const auto sequential = [&] {
        for (const std::unique_ptr<CKaleoModelData>& model : models)
            model->WriteEffect(Common::EFFECT_OWNED_A);
    };
    const auto parallel = [&] {
        Common::CTaskGroup tasks;
        for (size_t i = 1; i < models.size(); ++i)
            tasks.Run([&models, i] { models[i]->WriteEffect(Common::EFFECT_OWNED_A); });
        models[0]->WriteEffect(Common::EFFECT_OWNED_A);
        tasks.Wait();
    };
    for (int i = 0; i < 20; ++i)  // attach and warm up
    {
        sequential();
        parallel();
    }
    std::vector<double> seqSamples;
    std::vector<double> parSamples;
    for (int i = 0; i < calls; ++i)
    {
        double t0 = NowUs();
        sequential();
        seqSamples.push_back(NowUs() - t0);
        t0 = NowUs();
        parallel();
        parSamples.push_back(NowUs() - t0);
    }
    const CStats seq = Summarise(seqSamples);
    const CStats par = Summarise(parSamples);
    std::printf("Model rings, six records of %u bytes per effect, %d calls:\n",
                static_cast<unsigned>(Effects::MODEL_SLOT_SIZE), calls);
    PrintStats("one after another (module)", seq);
    PrintStats("one pool task per ring, joined", par);
    std::printf("  ratio parallel / sequential: median %.2fx, p99 %.2fx\n", par.median / seq.median,
                par.p99 / seq.p99);
}
} // namespace

int main(int argc, char** argv)
{
    const int calls = argc > 1 ? std::max(10, std::atoi(argv[1])) : 2000;
    CBenchRecord record;
    if (!record.Ok())
    {
        std::printf("cannot write the app record under HKLM\\%ls\n", Common::KALEO_APPS_KEY);
        return 1;
    }
    CModelRings models;
    const size_t effectBytes = GlobalEffectBytes();

    // --- one global effect across all rings
    std::vector<double> setSamples;
    std::vector<double> ringSamples;
    std::vector<double> copySamples;
    {
        CAppManager manager;
        CEffectRings rings;
        std::vector<uint8_t> from(effectBytes, 1);
        std::vector<uint8_t> to(effectBytes, 0);
        for (int i = 0; i < 20; ++i)  // attach and warm up
        {
            manager.SetGlobalEffect(Common::EFFECT_OWNED_A, kBenchApp);
            rings.WriteGlobalEffect(0xBF, Common::EFFECT_OWNED_A);
        }
        for (int i = 0; i < calls; ++i)
        {
            double t0 = NowUs();
            manager.SetGlobalEffect(i % 2 ? Common::EFFECT_OWNED_A : Common::EFFECT_OWNED_B, kBenchApp);
            double t1 = NowUs();
            setSamples.push_back(t1 - t0);

            t0 = NowUs();
            rings.WriteGlobalEffect(0xBF, Common::EFFECT_OWNED_A);
            t1 = NowUs();
            ringSamples.push_back(t1 - t0);

            from[static_cast<size_t>(i) % effectBytes] = static_cast<uint8_t>(i);
            t0 = NowUs();
            std::memcpy(to.data(), from.data(), effectBytes);
            t1 = NowUs();
            g_sink = g_sink + to[static_cast<size_t>(i) % effectBytes];
            copySamples.push_back(t1 - t0);
        }
    }
    const CStats set = Summarise(setSamples);
    const CStats ring = Summarise(ringSamples);
    const CStats copy = Summarise(copySamples);
    std::printf("Global effect, app supporting every class (8 rings + 6 model rings, %zu record bytes), %d calls:\n",
                effectBytes, calls);
    PrintStats("SetGlobalEffect", set);
    PrintStats("ring writes only (no registry)", ring);
    PrintStats("memcpy of the same bytes", copy);
    std::printf("  ratio SetGlobalEffect / memcpy: median %.1fx, p99 %.1fx\n", set.median / copy.median,
                set.p99 / copy.p99);

    BenchModelRings(calls);

    // --- scrambling the general record
    auto general = std::make_unique<CKaleoData::_DATATYPE>();
    std::memset(general.get(), 0x5A, sizeof(*general));
    size_t scrambled = 0;
    for (const Effects::CByteRange& r : Effects::GENERAL_RANGES)
        scrambled += r.last - r.first + 1;
    std::vector<uint8_t> copyFrom(scrambled, 3);
    std::vector<uint8_t> copyTo(scrambled, 0);
    const int rounds = 200000;
    double t0 = NowUs();
    for (int i = 0; i < rounds; ++i)
    {
        general->ullTickCount = static_cast<uint64_t>(i);
        CKaleoData::Encrypt(general.get());
    }
    const double encryptUs = NowUs() - t0;
    g_sink = g_sink + general->data[7];
    t0 = NowUs();
    for (int i = 0; i < rounds; ++i)
    {
        copyFrom[static_cast<size_t>(i) % scrambled] = static_cast<uint8_t>(i);
        std::memcpy(copyTo.data(), copyFrom.data(), scrambled);
        g_sink = g_sink + copyTo[static_cast<size_t>(i) % scrambled];
    }
    const double copyUs = NowUs() - t0;
    const double mb = static_cast<double>(scrambled) * rounds / 1e6;
    std::printf("Scramble, general record (%zu bytes, %zu of them scrambled), %d records:\n", sizeof(*general),
                scrambled, rounds);
    std::printf("  Encrypt                 %8.0f MB/s of scrambled bytes  (%.2f us per record, %.0f MB/s of "
                "record bytes)\n",
                mb / (encryptUs / 1e6), encryptUs / rounds,
                static_cast<double>(sizeof(*general)) * rounds / 1e6 / (encryptUs / 1e6));
    std::printf("  memcpy of the same bytes %7.0f MB/s\n", mb / (copyUs / 1e6));
    std::printf("  ratio Encrypt / memcpy time: %.2fx\n", encryptUs / copyUs);
    return 0;
}
