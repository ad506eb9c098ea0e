/* vtrin.sys: the component's kernel-mode driver, loaded by the Service Control
   Manager as the kernel driver service "vtrin" (type 1, automatic start, group
   "Extended Base"). It holds no resources: loading it is what tells the
   products that the component is present, and it must unload cleanly, since
   every install and removal stops the service before the image is replaced or
   deleted. */
#include <ddk/wdm.h>

static VOID VtrinUnload(PDRIVER_OBJECT driver) {
  UNREFERENCED_PARAMETER(driver);
  DbgPrint("vtrin: unloaded\n");
}

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path) {
  UNREFERENCED_PARAMETER(registry_path);
  /* Without an unload routine the service could never be stopped, and the
     driver image would stay in use until the next restart. */
  driver->DriverUnload = VtrinUnload;
  DbgPrint("vtrin: Kelm Embedded System Management Driver 4.0 loaded\n");
  return STATUS_SUCCESS;
}
