/* A module library for the tests: binds the natives of the class Greeter. Built twice, the
   second time multiplying by 3, to show that the module initialised later wins. */
#include "kernel/modules/brova_module.h"

#ifndef GREETER_FACTOR
#define GREETER_FACTOR 2
#endif

static const BrovaServices* services;

/* twice(n): n times the factor. */
static void Twice(BrovaValue* block, int32_t argc, int32_t reserved) {
  if (argc < 1) return;
  int32_t n = services->toInteger(services->argument(block, 1));
  services->setInteger(services->receiver(block), n * GREETER_FACTOR);
}

#if GREETER_FACTOR == 2
/* echo(v): v itself. */
static void Echo(BrovaValue* block, int32_t argc, int32_t reserved) {
  if (argc < 1) return;
  services->copy(services->receiver(block), services->argument(block, 1));
}

/* textLength(v): the length of v's text; kindOf(v): its kind byte. */
static void TextLength(BrovaValue* block, int32_t argc, int32_t reserved) {
  char buffer[256];
  if (argc < 1) return;
  int32_t n = services->toText(services->argument(block, 1), buffer, (int32_t)sizeof buffer);
  services->setInteger(services->receiver(block), n);
}

static void KindOf(BrovaValue* block, int32_t argc, int32_t reserved) {
  if (argc < 1) return;
  services->setInteger(services->receiver(block), services->kind(services->argument(block, 1)));
}

#endif

void initModule(const BrovaServices* table) {
  services = table;
  services->bindNative("Greeter", "twice", Twice);
#if GREETER_FACTOR == 2
  services->bindNative("modules.greet.Greeter", "echo", Echo);
  services->bindNative("Greeter", "textLength", TextLength);
  services->bindNative("Greeter", "kindOf", KindOf);
  services->bindNative("classes.nothing.Here", "twice", Twice);
  services->bindNative("Greeter", "undeclared", Twice);
#endif
}
