#!/usr/bin/python
# -*- coding: utf-8 -*-
"""Switches one mod folder with the install or uninstall program."""

DOCUMENTATION = r"""
module: tavrel_switch
short_description: Switch one mod folder with the install or uninstall program
description:
  - Runs C(PROGRAM --verbose -- FOLDER), or in check mode C(PROGRAM --dry-run -- FOLDER),
    and reports the program's one line as C(msg), whole, notes included.
  - C(changed) comes from the program's words, C(changed:) after a run and
    C(would change:) in check mode; nothing else of the line is read.
  - A refusal, a folder with nothing to switch, or a program that cannot
    start fails with the program's own line (or why it could not start) as
    C(msg), and nothing else.
  - With C(--diff), a switched folder shows C(liblist.gam) before and after;
    in check mode, where no new file is made, the plan's line.
options:
  program:
    description: The C(install) or C(uninstall) program on the host.
    type: path
    required: true
  folder:
    description: The mod folder to switch.
    type: path
    required: true
attributes:
  check_mode:
    support: full
  diff_mode:
    support: full
"""

EXAMPLES = r"""
- name: Switch a mod folder to the bot
  tavrel_switch:
    program: /home/hlds/tavrel-switch/install
    folder: /home/hlds/hlds/dod
"""

RETURN = r"""
msg:
  description: The program's line.
  returned: always
  type: str
  sample: "install: changed: switched liblist.gam to the bot; the original is kept as liblist_tv_backup.gam"
"""

import os
import re
import stat
import subprocess

from ansible.module_utils.basic import AnsibleModule

# The program's line starts "PROGRAM: would change: " after a dry run that
# would change the folder, "PROGRAM: changed: " after a run that did.
CHANGE = re.compile(r"[^:\n]*: (would change|changed): ")

# liblist.gam is shown in a diff up to this size.
DIFF_LIMIT = 1 << 20


def liblist(folder):
    """liblist.gam's text, or "" where it is no regular file that can be read.

    Only a regular file is opened, and never through a link: a pipe put in
    its place must not block the module.
    """
    path = os.path.join(folder, "liblist.gam")
    try:
        if not stat.S_ISREG(os.lstat(path).st_mode):
            return ""
        fd = os.open(path, os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK)
    except OSError:
        return ""
    with os.fdopen(fd, "rb") as f:
        if not stat.S_ISREG(os.fstat(fd).st_mode):
            return ""
        data = f.read(DIFF_LIMIT + 1)
    if len(data) > DIFF_LIMIT:
        return ""
    return data.decode("utf-8", "replace")


def main():
    module = AnsibleModule(
        argument_spec=dict(
            program=dict(type="path", required=True),
            folder=dict(type="path", required=True),
        ),
        supports_check_mode=True,
    )
    program, folder = module.params["program"], module.params["folder"]
    show = module._diff and not module.check_mode
    before = liblist(folder) if show else ""
    argv = [program, "--dry-run" if module.check_mode else "--verbose", "--", folder]
    try:
        run = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, check=False)
    except OSError as e:
        module.fail_json(msg="%s could not start: %s" % (program, e.strerror))
    out = run.stdout.decode("utf-8", "replace").strip()
    err = run.stderr.decode("utf-8", "replace").strip()
    if run.returncode != 0:
        module.fail_json(msg=err or out or "%s ended with status %d" % (program, run.returncode))
    for line in err.splitlines():
        module.warn(line)
    changed = bool(CHANGE.match(out))
    result = dict(changed=changed, msg=out)
    if module._diff and changed:
        if module.check_mode:
            result["diff"] = dict(prepared=out)
        else:
            name = os.path.join(folder, "liblist.gam")
            result["diff"] = dict(before_header=name, before=before,
                                  after_header=name, after=liblist(folder))
    module.exit_json(**result)


if __name__ == "__main__":
    main()
