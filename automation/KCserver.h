// What the binding's pieces share: the library's object and lock counts,
// failure reporting through the thread's error record, and the parts that
// depend on how the type information is held.
#pragma once

#include <string_view>

#include "automation/brindel_Kestrune_TLB.h"

namespace kestrune::automation {

// Live objects of the library, for DllCanUnloadNow. Atomic: objects of
// different apartments come and go on different threads.
void ObjectCreated() noexcept;
void ObjectDestroyed() noexcept;

// Sets the thread's error record (description, the class's programmatic
// identifier as source, the interface's identifier) and returns status.
HRESULT ReportFailure(HRESULT status, std::u16string_view description) noexcept;

// A new Kestrune object's interface riid (no aggregation).
HRESULT CreateKestrune(REFIID riid, void** ppv) noexcept;

// The description of IKestrune for dispatch (index 0 of GetTypeInfo).
HRESULT KestruneTypeInfo(ITypeInfo** ppTInfo) noexcept;

// IDispatch over the member table, for the object and any other
// implementation of IKestrune.
HRESULT DispatchIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, DISPID* rgDispId) noexcept;
HRESULT DispatchInvoke(IKestrune& target, DISPID dispIdMember, REFIID riid, WORD wFlags, DISPPARAMS* pDispParams,
                       VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) noexcept;

}  // namespace kestrune::automation
