// Stored form descriptions: the reader that turns a description's text into components, properties and event
// bindings, and the table of resources (descriptions and the pictures they name) embedded into a program.
// The text format is written down in platform/rtl/FORMS.md. No Qt.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "rtl/classes.h"

// Reads text (the description of root's class) into root: root's own properties from the top object; each
// nested object created by class name through the registry, owned by root, named, stored in root's published
// field of that name (typinfo.h, Field), nested in its enclosing object (SetParentComponent), its properties set
// by name; events bound to root's published methods by name. Loaded() runs on every created component, in the
// order written, and then on root, once all are read (csLoading and csReading are set until then).
// Any unknown class, property, value or handler, a syntax error, or an error raised by a property's own
// conversion raises EReadError whose message names formName, the line and the word, and nothing stays behind: a
// form never half-loads (created components destroyed, fields cleared, root's own properties put back).
void ReadComponentText(TComponent* root, const std::string& text, const std::string& formName);

// The class that a description's top object names ("object Form1: TForm1" gives "TForm1"), read by the reader's
// own rules (blanks, // comments, a byte-order mark); "" when the text does not begin with such a header.
std::string DescribedClassName(std::string_view text);

// Resources embedded at build time by the CMake function tarvo_embed_resources (rtl/cmake). Names are the file
// names given there, relative to the folder given as BASE (for example "Unit1.form", "pictures/play.jpg").
// Names compare exactly. Returns false and an empty view when absent; the bytes live as long as the program.
bool FindResourceData(const std::string& name, std::string_view& data);
void RegisterResource(const char* name, const unsigned char* data, std::size_t size);  // used by generated code

// Reads the embedded description named resourceName into root (ReadComponentText); EReadError when absent.
void ReadComponentResource(TComponent* root, const std::string& resourceName);
