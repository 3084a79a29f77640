// Chief header of the SMTP client: include this one.
#pragma once

#include "smtp/smtp_error.h"
