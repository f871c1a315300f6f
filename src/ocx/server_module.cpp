#include "ocx/server_module.h"

#include <atomic>

#include "ocx/control_object.h"
#include "ocx/guids.h"
#include "ocx/registration.h"

namespace tolvak::com {

namespace {

HINSTANCE g_instance = nullptr;
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

// The one class factory; it is static and lives as long as the module, so it counts as a lock
// only through LockServer.
class ClassFactory final : public IClassFactory {
  public:
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return ControlObject::create(riid, object);
    }
    STDMETHODIMP LockServer(BOOL on) override {
        ServerModule::lock(on != FALSE);
        return S_OK;
    }
};

ClassFactory g_factory;

} // namespace

HINSTANCE ServerModule::instance() {
    return g_instance;
}

std::wstring ServerModule::path() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(g_instance, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

void ServerModule::objectCreated() {
    ++g_objects;
}
void ServerModule::objectDestroyed() {
    --g_objects;
}
void ServerModule::lock(bool on) {
    on ? ++g_locks : --g_locks;
}
bool ServerModule::canUnload() {
    return g_objects == 0 && g_locks == 0;
}

} // namespace tolvak::com

using tolvak::com::ServerModule;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        tolvak::com::g_instance = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (clsid != tolvak::com::kClsid) return CLASS_E_CLASSNOTAVAILABLE;
    return tolvak::com::g_factory.QueryInterface(riid, object);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return ServerModule::canUnload() ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    return tolvak::com::registerServer(ServerModule::path());
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return tolvak::com::unregisterServer(ServerModule::path());
}
