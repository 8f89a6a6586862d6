// Whether the spooler is printing a job right now: a stop of the spooler
// would make that job print again from its first page once it runs again.
#pragma once

enum class JobsPrinting { kNone, kPrinting, kUnknown };

// Looks through the jobs of every local queue that has any. kUnknown when a
// list could not be read (Windows without the calls, or a spooler that does
// not answer); the printing queue's name is traced.
JobsPrinting FindPrintingJob();
