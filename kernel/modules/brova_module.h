/* The interface between the player and a module library.

   A module is a folder NAME under kernel/modules holding NAME.brovares, a resource list
   whose `module` elements name shared libraries (`src`, relative to the folder):

     <resourcelist name="NAME">
      <class name="Greeter" src="Greeter.brova"/>
      <module name="greeter" src="libgreeter.so"/>
     </resourcelist>

   After the module's classes are compiled, the player opens each library and calls its
   export `initModule` once with the service table below; every library receives the same
   table. A library binds bodies to the `native` methods its classes declare through
   `bindNative`. Plain C calling convention of the host; build the library position
   independent (-fPIC -shared) and export `initModule` with C linkage.

   A native body receives the address of the call's receiver value, the argument count and a
   reserved 0. Argument n (1-based) lies n values below the receiver: use `argument`. What the
   receiver value holds when the body returns is the call's result; write it with
   `copy` or `setInteger`, never by hand, so that reference counts stay right. A body must
   not release its arguments; one that keeps a value elsewhere copies it with `copy`. */
#ifndef BROVA_MODULE_H
#define BROVA_MODULE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A script value: a kind byte, three zero bytes, a 32-bit payload. */
typedef struct BrovaValue {
  uint8_t kind;
  uint8_t zero[3];
  int32_t payload;
} BrovaValue;

/* The kinds of BrovaValue.kind. */
enum {
  BROVA_NULL = 0,
  BROVA_INT = 1,
  BROVA_FLOAT = 2,
  BROVA_OBJECT = 3,
  BROVA_REF = 4,
  BROVA_NATIVE = 5,
  BROVA_ERROR = 6,
  BROVA_UNSET = 7
};

typedef void (*BrovaNativeBody)(BrovaValue* result, int32_t argc, int32_t reserved);

/* The eight services, in this order. */
typedef struct BrovaServices {
  /* 0: binds `body` to the native `nativeName` of the class at `classPath` (a dotted path
     from the resource root, or a class's short name). A path naming no class does nothing;
     a class without that native shows a message. A later binding replaces an earlier one. */
  void (*bindNative)(const char* classPath, const char* nativeName, BrovaNativeBody body);
  /* 1: the receiver value of a call: the block pointer itself. */
  BrovaValue* (*receiver)(BrovaValue* block);
  /* 2: argument n of a call: n values below the receiver. */
  BrovaValue* (*argument)(BrovaValue* block, int32_t n);
  /* 3: the kind byte. */
  uint8_t (*kind)(const BrovaValue* value);
  /* 4: an integer as is, a float truncated toward zero, 1 for an object, 0 otherwise. */
  int32_t (*toInteger)(const BrovaValue* value);
  /* 5: writes the value's text and a zero byte into `buffer`, which holds `size` bytes; a
     longer text is cut to size - 1 bytes. Returns the number of bytes written before the
     zero byte (0, writing nothing, when size is 0 or less). */
  int32_t (*toText)(const BrovaValue* value, char* buffer, int32_t size);
  /* 6: assigns `source` to `destination` with reference counting; a null source makes the
     destination null. Returns the destination. */
  BrovaValue* (*copy)(BrovaValue* destination, const BrovaValue* source);
  /* 7: makes the value the integer; returns the integer. */
  int32_t (*setInteger)(BrovaValue* value, int32_t integer);
} BrovaServices;

/* What a module library exports. */
typedef void (*BrovaInitModule)(const BrovaServices* services);
#define BROVA_INIT_MODULE_SYMBOL "initModule"

#ifdef __cplusplus
}
#endif

#endif
