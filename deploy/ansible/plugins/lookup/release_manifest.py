# Copyright: Kelm Computer Corporation
"""kelm.kota.release_manifest: the files of a release directory on the
control node, one line each, "SHA-256 mtime size name", read in the engine's
own process (the role asks for it once per host and run)."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
name: release_manifest
short_description: The files of a release directory, with their times, sizes and hashes
description:
  - One line per file under the directory, sorted by name, C(SHA-256 mtime size name), the mtime in seconds since
    1970 with its fraction, the name relative to the directory with / between folders.
  - Without I(sha256) the first field is C(-): hashing costs more than a run of the tool.
version_added: 4.0.0
author: Kelm deployment team
options:
  _terms:
    description: The release directory.
    required: true
  sha256:
    description: Whether to hash the files' contents.
    type: bool
    default: false
"""

EXAMPLES = r"""
- name: Show a release's files
  ansible.builtin.debug:
    msg: "{{ lookup('kelm.kota.release_manifest', '/srv/kelm/kota-4.0/release', sha256=true) }}"
"""

RETURN = r"""
_raw:
  description: The lines, joined by newlines.
  type: list
  elements: str
"""

import hashlib
import os

from ansible.errors import AnsibleLookupError
from ansible.plugins.lookup import LookupBase


def manifest(top, sha256):
    lines = []
    for folder, _, names in os.walk(top):
        for name in names:
            path = os.path.join(folder, name)
            if not os.path.isfile(path):
                continue
            info = os.stat(path)
            digest = "-"
            if sha256:
                with open(path, "rb") as f:
                    digest = hashlib.sha256(f.read()).hexdigest()
            relative = os.path.relpath(path, top).replace(os.sep, "/")
            lines.append((relative.encode(), "%s %d.%09d %d %s" % (
                digest, info.st_mtime_ns // 10**9, info.st_mtime_ns % 10**9, info.st_size, relative)))
    return "\n".join(line for _, line in sorted(lines))


class LookupModule(LookupBase):
    def run(self, terms, variables=None, **kwargs):
        self.set_options(var_options=variables, direct=kwargs)
        result = []
        for term in terms:
            if not os.path.isdir(term):
                raise AnsibleLookupError("no release directory at %s" % term)
            result.append(manifest(term, self.get_option("sha256")))
        return result
